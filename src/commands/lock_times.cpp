// Lock and button time lists: two texts of fixed-width items cut into byte
// slots, sent in one request.
#include "commands/command_request.h"
#include "commands/text_fields.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"

namespace doorlink::commands {
namespace {

// The header shared with the rest-day command; bytes 6..11 tell them apart.
constexpr uint8_t kTimesCode[4] = {0x62, 0x26, 0x36, 0x46};
constexpr size_t kKindBytesAt = 6;
constexpr size_t kKindBytesCount = 6;
constexpr uint8_t kLockTimesKind = 0x02;
constexpr size_t kSlotsAt = 12;

// An item layout: its width in characters, the character offsets of its
// two-digit numbers, and how many items fit a list.
struct ItemLayout {
    size_t width;
    size_t numbers;
    size_t offsets[5];
    size_t maxItems;
};
constexpr ItemLayout kShortItems = {5, 2, {0, 2}, 8};            // "0830,"
constexpr ItemLayout kLongItems = {13, 5, {0, 2, 5, 7, 10}, 4};  // "0800-1200-01;"

void write_times_header(core::ByteWriter& w) {
    w.bytes(0, kTimesCode, 4).u8(4, 0x00).u8(5, 0x11);
    for (size_t i = 0; i < kKindBytesCount; ++i) w.u8(kKindBytesAt + i, kLockTimesKind);
}

// Cuts a time list into its slots; slots without an item stay 0.
void write_time_list(core::ByteWriter& w, size_t at, const char* text, const ItemLayout& layout) {
    const size_t items = count_items(text, layout.width, layout.maxItems);
    for (size_t item = 0; item < items; ++item) {
        for (size_t n = 0; n < layout.numbers; ++n) {
            w.u8(at + item * layout.numbers + n,
                 read_byte_field(text, item * layout.width + layout.offsets[n], 2));
        }
    }
}

// Writes header and both lists; returns where the lists end.
size_t write_times(core::ByteWriter& w, const char* lock, const char* button, const ItemLayout& layout) {
    write_times_header(w);
    const size_t listBytes = layout.maxItems * layout.numbers;
    write_time_list(w, kSlotsAt, lock, layout);
    write_time_list(w, kSlotsAt + listBytes, button, layout);
    return kSlotsAt + 2 * listBytes;
}

// One time-list command: header, both lists, then the extra byte where the
// variant has one, the MAC, and a final zero where the variant has one.
template <size_t Length>
uint32_t send_time_lists(const char* address, const char* lock, const char* button, const char* macText,
                         const ItemLayout& layout, const uint8_t* extra) {
    core::Mac mac;
    if (!core::ParseMacText(macText, mac) || !address || !lock || !button) return 0;
    std::array<uint8_t, Length> request{};
    core::ByteWriter w(request);
    size_t tail = write_times(w, lock, button, layout);
    if (extra) w.u8(tail++, *extra);
    w.bytes(tail, mac);
    return command_exchange(address, request, acknowledged_after_wait());
}

}  // namespace
}  // namespace doorlink::commands

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorLockAndButtonTime(const char* address,
                                                                     const char* lockTimes,
                                                                     const char* buttonTimes,
                                                                     const char* macText) {
    return core::guarded<uint32_t>(0, [&] {
        return commands::send_time_lists<50>(address, lockTimes, buttonTimes, macText, commands::kShortItems,
                                             nullptr);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL MulDoorLockAndButtonTime(const char* address,
                                                                        const char* lockTimes,
                                                                        const char* buttonTimes,
                                                                        uint8_t extra, const char* macText) {
    return core::guarded<uint32_t>(0, [&] {
        return commands::send_time_lists<52>(address, lockTimes, buttonTimes, macText, commands::kShortItems,
                                             &extra);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorLockAndButtonTime3(const char* address,
                                                                      const char* lockTimes,
                                                                      const char* buttonTimes,
                                                                      const char* macText) {
    return core::guarded<uint32_t>(0, [&] {
        return commands::send_time_lists<58>(address, lockTimes, buttonTimes, macText, commands::kLongItems,
                                             nullptr);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL LockAndButtonTime(const char* address, const char* lockTimes,
                                                                 const char* buttonTimes, const char* macText,
                                                                 int32_t extra, int32_t kind) {
    switch (kind) {
        case 0: return DoorLockAndButtonTime(address, lockTimes, buttonTimes, macText);
        case 1: return DoorLockAndButtonTime3(address, lockTimes, buttonTimes, macText);
        case 2:
            return MulDoorLockAndButtonTime(address, lockTimes, buttonTimes,
                                            static_cast<uint8_t>(extra & 0xFF), macText);
        default: return 0;
    }
}
