// The controller's clock: set from a 32-byte request carrying the clock block
// twice, read back with two decimal digits per byte.
#include <ctime>

#include "handlers.h"

namespace doorsim {
namespace {

uint8_t bcd(int value) { return static_cast<uint8_t>((value / 10) * 16 + value % 10); }

time_t host_now() { return std::time(nullptr); }

// Set clock: "C4DT" 0x99, block (weekday, yy, mm, dd, hh, mi, ss, MAC) twice.
bool set_clock(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x43, 0x34, 0x44, 0x54, 0x99})) return false;
    if (r.size() != 32 || !mac_at(r, 12, state) || !mac_at(r, 25, state)) return true;
    // A controller ignores a request whose two blocks disagree.
    if (!std::equal(r.begin() + 5, r.begin() + 18, r.begin() + 18)) return true;
    time_t now = host_now();
    tm local{};
    localtime_r(&now, &local);
    tm set{};
    set.tm_year = (local.tm_year + 1900) / 100 * 100 + r[6] - 1900;
    set.tm_mon = r[7] - 1;
    set.tm_mday = r[8];
    set.tm_hour = r[9];
    set.tm_min = r[10];
    set.tm_sec = r[11];
    set.tm_isdst = -1;
    time_t when = mktime(&set);
    if (when == static_cast<time_t>(-1)) return true;
    state.clockOffsetSeconds = static_cast<int64_t>(when - now);
    state.weekDayShift = ((r[5] - set.tm_wday) % 7 + 7) % 7;
    ++state.clockSets;
    out.reply(kAcknowledgement);
    return true;
}

// Read clock: 0x83 0x38 0x48 0x58 0x33 0x00 MAC.
bool show_clock(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x83, 0x38, 0x48, 0x58, 0x33, 0x00})) return false;
    if (r.size() != 12 || !mac_at(r, 6, state)) return true;
    time_t when = host_now() + static_cast<time_t>(state.clockOffsetSeconds);
    tm t{};
    localtime_r(&when, &t);
    Bytes reply(r.begin(), r.begin() + 6);
    reply.push_back(bcd(t.tm_year % 100));
    reply.push_back(bcd(t.tm_mon + 1));
    reply.push_back(bcd(t.tm_mday));
    reply.push_back(bcd(t.tm_hour));
    reply.push_back(bcd(t.tm_min));
    reply.push_back(bcd(t.tm_sec > 59 ? 59 : t.tm_sec));
    reply.push_back(static_cast<uint8_t>((t.tm_wday + state.weekDayShift) % 7));
    out.reply(std::move(reply));
    return true;
}

}  // namespace

void add_clock_handlers(std::vector<Handler>& table) {
    table.push_back(set_clock);
    table.push_back(show_clock);
}

}  // namespace doorsim
