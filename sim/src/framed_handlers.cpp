// Framed commands: a frame with head 0xA3 0xA8, this controller's node number
// and station address is answered with a reply frame (head 0xD3 0xD8, byte
// 17 = 1) whose payload depends on the command byte.
#include <ctime>

#include "handlers.h"

namespace doorsim {
namespace {

constexpr size_t kLengthAt = 2;
constexpr size_t kReservedAt = 4;
constexpr size_t kNodeAt = 6;
constexpr size_t kStationAt = 12;
constexpr size_t kCommandAt = 17;
constexpr size_t kPayloadAt = 18;
constexpr size_t kOverhead = 22;

uint16_t be16(const Bytes& r, size_t at) { return static_cast<uint16_t>(r[at] << 8 | r[at + 1]); }

uint8_t two_digits(int value) { return static_cast<uint8_t>((value / 10) * 16 + value % 10); }

Bytes clock_payload(const ControllerState& state) {
    time_t when = std::time(nullptr) + static_cast<time_t>(state.clockOffsetSeconds);
    tm t{};
    localtime_r(&when, &t);
    return {two_digits(t.tm_year % 100),
            two_digits(t.tm_mon + 1),
            two_digits(t.tm_mday),
            two_digits(t.tm_hour),
            two_digits(t.tm_min),
            two_digits(t.tm_sec > 59 ? 59 : t.tm_sec),
            static_cast<uint8_t>((t.tm_wday + state.weekDayShift) % 7)};
}

bool framed_command(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0xA3, 0xA8})) return false;
    // A frame whose length field disagrees with its size, or that is meant
    // for another node or station, is not answered.
    if (r.size() < kOverhead || r.size() != kOverhead + be16(r, kLengthAt)) return true;
    if (be16(r, kNodeAt) != state.framed.node || r[kStationAt] != state.framed.station[0] ||
        r[kStationAt + 1] != state.framed.station[1]) {
        return true;
    }
    const Bytes request(r.begin() + kPayloadAt, r.end() - 4);
    Bytes payload;
    switch (r[kCommandAt]) {
        case kFramedEcho: payload = request; break;
        case kFramedClock: payload = clock_payload(state); break;
        case kFramedIdentity:
            payload.assign(state.mac.begin(), state.mac.end());
            payload.push_back(state.deviceNumber);
            break;
        default: return true;
    }
    Bytes reply(kOverhead + payload.size(), 0);
    reply[0] = 0xD3;
    reply[1] = 0xD8;
    reply[kLengthAt] = static_cast<uint8_t>(payload.size() >> 8);
    reply[kLengthAt + 1] = static_cast<uint8_t>(payload.size() & 0xFF);
    reply[kReservedAt] = r[kReservedAt];
    reply[kReservedAt + 1] = r[kReservedAt + 1];
    reply[kNodeAt] = r[kNodeAt];
    reply[kNodeAt + 1] = r[kNodeAt + 1];
    reply[kStationAt] = r[kStationAt];
    reply[kStationAt + 1] = r[kStationAt + 1];
    reply[kCommandAt] = 0x01;
    std::copy(payload.begin(), payload.end(), reply.begin() + kPayloadAt);
    ++state.framed.answered;
    out.reply(std::move(reply));
    return true;
}

}  // namespace

void add_framed_handlers(std::vector<Handler>& table) { table.push_back(framed_command); }

}  // namespace doorsim
