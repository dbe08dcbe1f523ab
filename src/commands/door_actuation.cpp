// Forced actuation of one of a controller's four doors, and its
// initialisation command.
#include "commands/command_request.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"

namespace doorlink::commands {
namespace {

constexpr uint8_t kActuationCode[4] = {0x63, 0x36, 0x46, 0x56};
constexpr size_t kActuationSubCodesAt = 4;  // 0x11 0x22
constexpr size_t kDoorPatternAt = 6;
constexpr size_t kAfterPatternAt = 12;

// The 6-byte pattern that names each door; the request has no open/close flag.
constexpr uint8_t kDoorPatterns[4][6] = {
    {0x51, 0x15, 0x25, 0x35, 0x88, 0x99},
    {0x52, 0x25, 0x35, 0x45, 0x99, 0x00},
    {0x53, 0x35, 0x45, 0x55, 0x00, 0x11},
    {0x54, 0x45, 0x55, 0x65, 0x11, 0x22},
};

void write_actuation_head(core::ByteWriter& w, uint32_t door) {
    w.bytes(0, kActuationCode, 4)
        .u8(kActuationSubCodesAt, 0x11)
        .u8(kActuationSubCodesAt + 1, 0x22)
        .bytes(kDoorPatternAt, kDoorPatterns[door], 6);
}

constexpr uint8_t kInitCode[4] = {0x31, 0x13, 0x23, 0x33};

}  // namespace
}  // namespace doorlink::commands

using namespace doorlink;
using doorlink::commands::command_exchange;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorCompelOpenOrClose(const char* address, uint32_t door,
                                                                     const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!address || !core::ParseMacText(macText, mac) || door > 3) return 0;
        std::array<uint8_t, 18> request{};
        core::ByteWriter w(request);
        commands::write_actuation_head(w, door);
        w.bytes(commands::kAfterPatternAt, mac);
        return command_exchange(address, request);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL MulDoorCompelOpenOrClose(const char* address, uint32_t door,
                                                                        int32_t extra, const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!address || !core::ParseMacText(macText, mac) || extra >= 255 || door > 3) return 0;
        std::array<uint8_t, 20> request{};
        core::ByteWriter w(request);
        commands::write_actuation_head(w, door);
        w.u8(commands::kAfterPatternAt, static_cast<uint8_t>(extra & 0xFF))
            .bytes(commands::kAfterPatternAt + 1, mac);
        return command_exchange(address, request);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorInit(const char* address, const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!address || !core::ParseMacText(macText, mac)) return 0;
        std::array<uint8_t, 12> request{};
        core::ByteWriter(request).bytes(0, commands::kInitCode, 4).u8(4, 0x66).bytes(5, mac);
        return command_exchange(address, request);
    });
}
