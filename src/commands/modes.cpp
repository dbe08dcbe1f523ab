// Mode bytes and rest days.
#include "commands/command_request.h"
#include "commands/text_fields.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"

#include <cstring>

namespace doorlink::commands {
namespace {

constexpr uint8_t kModeCode[4] = {0x33, 0x33, 0x43, 0x53};
constexpr uint8_t kModeSubCode = 0x88;
constexpr size_t kModeBlocksAt = 5;
constexpr size_t kModeBytes = 3;

// The mode block (mode bytes, the extra byte where there is one, the MAC),
// written twice in a row.
template <size_t N>
void write_mode_request(std::array<uint8_t, N>& request, const uint8_t* modes, const uint8_t* extra,
                        const core::Mac& mac) {
    const size_t block = kModeBytes + (extra ? 1 : 0) + 6;
    core::ByteWriter w(request);
    w.bytes(0, kModeCode, 4).u8(4, kModeSubCode);
    for (size_t copy = 0; copy < 2; ++copy) {
        size_t at = kModeBlocksAt + copy * block;
        w.bytes(at, modes, kModeBytes);
        if (extra) w.u8(at + kModeBytes, *extra);
        w.bytes(at + block - 6, mac);
    }
}

// Rest days: the header of the time lists with 0x01 at 6..11, the week
// pattern, 20 two-number slots, 40 zero bytes, the MAC.
constexpr uint8_t kTimesCode[4] = {0x62, 0x26, 0x36, 0x46};
constexpr uint8_t kRestDayKind = 0x01;
constexpr size_t kWeekAt = 12;
constexpr size_t kWeekDays = 7;
constexpr size_t kRestSlotsAt = 19;
constexpr size_t kRestItemWidth = 5;
constexpr size_t kMaxRestItems = 20;
constexpr size_t kRestMacAt = 99;

}  // namespace
}  // namespace doorlink::commands

using namespace doorlink;
using commands::command_exchange;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL SetMode(const uint8_t* modes, const char* address,
                                                       const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!core::ParseMacText(macText, mac) || !modes || !address) return 0;
        std::array<uint8_t, 24> request{};
        commands::write_mode_request(request, modes, nullptr, mac);
        return command_exchange(address, request, commands::acknowledged_after_every_wait());
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL MulSetMode(const uint8_t* modes, uint8_t extra,
                                                          const char* address, const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!core::ParseMacText(macText, mac) || !modes || !address) return 0;
        std::array<uint8_t, 26> request{};
        commands::write_mode_request(request, modes, &extra, mac);
        return command_exchange(address, request, commands::acknowledged_after_every_wait());
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorRestDay(const char* address, const char* weekDays,
                                                           const char* restDays, const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!core::ParseMacText(macText, mac) || !address || !weekDays || !restDays) return 0;
        // The week pattern needs its seven characters; a shorter text would
        // be read past its end.
        if (std::strlen(weekDays) < commands::kWeekDays) return 0;
        std::array<uint8_t, 106> request{};
        core::ByteWriter w(request);
        w.bytes(0, commands::kTimesCode, 4).u8(4, 0x00).u8(5, 0x11);
        for (size_t i = 0; i < 6; ++i) w.u8(6 + i, commands::kRestDayKind);
        for (size_t day = 0; day < commands::kWeekDays; ++day) {
            w.u8(commands::kWeekAt + day, static_cast<uint8_t>(weekDays[day] - 0x30));
        }
        const size_t items =
            commands::count_items(restDays, commands::kRestItemWidth, commands::kMaxRestItems);
        for (size_t item = 0; item < items; ++item) {
            const size_t text = item * commands::kRestItemWidth;
            w.u8(commands::kRestSlotsAt + 2 * item, commands::read_byte_field(restDays, text, 2));
            w.u8(commands::kRestSlotsAt + 2 * item + 1, commands::read_byte_field(restDays, text + 2, 2));
        }
        w.bytes(commands::kRestMacAt, mac);
        return command_exchange(address, request, commands::acknowledged_after_wait());
    });
}
