// Setting a controller's clock, to the host's local time or to a given one,
// and reading it.
#include <array>
#include <cstdio>

#include "commands/clock.h"
#include "commands/local_time_text.h"
#include "core/exchange.h"
#include "core/export_guard.h"
#include "core/mac.h"
#include "doorlink/doorlink.h"
#include "platform/clock.h"

namespace doorlink::commands {
namespace {

using core::ByteWriter;
using core::Mac;

// Set-clock request: code, sub-code, the clock block twice, a final zero.
constexpr size_t kSetTimeLength = 32;
constexpr size_t kSubCodeAt = 4;
constexpr size_t kFirstBlockAt = 5;
constexpr size_t kSecondBlockAt = 18;
constexpr size_t kClockBlockLength = 13;
constexpr uint8_t kSetTimeCode[4] = {0x43, 0x34, 0x44, 0x54};  // "C4DT"
constexpr uint8_t kSetTimeSubCode = 0x99;

// Clock block: day of week, year % 100, month, day, hour, minute, second, MAC.
void write_clock_block(ByteWriter& w, size_t at, const platform::LocalTime& t, const Mac& mac) {
    w.u8(at + 0, static_cast<uint8_t>(t.dayOfWeek))
        .u8(at + 1, static_cast<uint8_t>(t.year % 100))
        .u8(at + 2, static_cast<uint8_t>(t.month))
        .u8(at + 3, static_cast<uint8_t>(t.day))
        .u8(at + 4, static_cast<uint8_t>(t.hour))
        .u8(at + 5, static_cast<uint8_t>(t.minute))
        .u8(at + 6, static_cast<uint8_t>(t.second))
        .bytes(at + 7, mac);
}

// Clock query: code, 0x33, selector 0, MAC. The reply echoes the first six
// bytes and carries year..second at 6..11 (two decimal digits per byte) and
// the day of the week at 12.
constexpr size_t kShowTimeLength = 12;
constexpr uint8_t kClockQueryCode[4] = {0x83, 0x38, 0x48, 0x58};
constexpr uint8_t kClockQuerySubCode = 0x33;
constexpr uint8_t kClockSelector = 0x00;
constexpr size_t kReplyClockAt = 6;
constexpr size_t kReplyWeekDayAt = 12;

}  // namespace

std::array<uint8_t, kSetTimeLength> build_set_time_request(const platform::LocalTime& now, const Mac& mac) {
    std::array<uint8_t, kSetTimeLength> request{};
    ByteWriter w(request);
    w.bytes(0, kSetTimeCode, 4).u8(kSubCodeAt, kSetTimeSubCode);
    write_clock_block(w, kFirstBlockAt, now, mac);
    write_clock_block(w, kSecondBlockAt, now, mac);
    static_assert(kSecondBlockAt + kClockBlockLength == kSetTimeLength - 1, "final zero");
    return request;
}

}  // namespace doorlink::commands

using namespace doorlink;

namespace {

// Both set-clock exports: the request for that time, acknowledged.
uint32_t set_clock(const char* address, const platform::LocalTime& time, const core::Mac& mac) {
    auto request = commands::build_set_time_request(time, mac);
    core::ExchangeProfile profile;  // acknowledgement, no waits
    return core::RunExchange(core::udp_transport(), address, request, profile).result;
}

}  // namespace

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorSetTime(const char* address, const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!address || !core::ParseMacText(macText, mac)) return 0;
        return set_clock(address, platform::local_time(), mac);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorSetTimeTo(const char* address, const char* macText,
                                                             const char* localTime) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        platform::LocalTime time;
        if (!address || !core::ParseMacText(macText, mac) ||
            !commands::parse_local_time_text(localTime, time))
            return 0;
        return set_clock(address, time, mac);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorShowTime(const char* address, char* text,
                                                            uint32_t* weekDay, const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!address || !text || !weekDay || !core::ParseMacText(macText, mac)) return 0;
        std::array<uint8_t, commands::kShowTimeLength> request{};
        core::ByteWriter(request)
            .bytes(0, commands::kClockQueryCode, 4)
            .u8(4, commands::kClockQuerySubCode)
            .u8(5, commands::kClockSelector)
            .bytes(6, mac);
        core::ExchangeProfile profile;
        profile.check = core::ReplyCheck::Echo;
        profile.repeatable = core::Repeatable::ClockQuery;
        auto show = [&](const core::Reply& reply) {
            const core::ByteReader& r = reply.buffer;
            const size_t at = commands::kReplyClockAt;
            std::snprintf(text, 18, "%02x-%02x-%02x %02x:%02x:%02x", r.u8(at), r.u8(at + 1), r.u8(at + 2),
                          r.u8(at + 3), r.u8(at + 4), r.u8(at + 5));
            *weekDay = r.u8(commands::kReplyWeekDayAt);
            return true;
        };
        return core::RunExchange(core::udp_transport(), address, request, profile, show).result;
    });
}
