// Monitoring (the socket stays open for the host), the photo test, and card
// flags.
#include "commands/command_request.h"
#include "commands/text_fields.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"

namespace doorlink::commands {
namespace {

constexpr uint8_t kScoutCode[4] = {0x91, 0x19, 0x29, 0x39};
constexpr uint8_t kScoutSubCode = 0x22;
constexpr uint8_t kPhotoTestCode[4] = {0x45, 0x54, 0x64, 0x74};  // "ETdt"
constexpr uint8_t kPhotoTestSubCode = 0x11;

// Card flags: one of two command codes, the card's site byte and number, the
// MAC; the controller answers with its own code and the three card bytes.
constexpr uint8_t kFlagKindOne = 1;
constexpr uint8_t kFlagCodeOne[4] = {0x71, 0x17, 0x27, 0x37};
constexpr uint8_t kFlagCodeOther[4] = {0x72, 0x27, 0x37, 0x47};
constexpr uint8_t kFlagReplyCode[4] = {0x74, 0x47, 0x57, 0x67};
constexpr size_t kSiteAt = 4;
constexpr size_t kCardNumberAt = 5;
constexpr size_t kFlagMacAt = 10;
constexpr int kFlagCopies = 5;
constexpr int kFlagReplyCapacity = 1055;

uint32_t scout(const char* address, const uint8_t* request, int length, uint32_t* socketOut) {
    core::ExchangeProfile profile;
    profile.socketToCaller = true;
    auto outcome = core::RunExchange(core::udp_transport(), address, request, length, profile);
    if (outcome.result == 1) *socketOut = outcome.socket;
    return outcome.result;
}

}  // namespace
}  // namespace doorlink::commands

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorScout(const char* address, uint32_t* socketOut) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!address || !socketOut) return 0;
        std::array<uint8_t, 6> request{};
        core::ByteWriter(request).bytes(0, commands::kScoutCode, 4).u8(4, commands::kScoutSubCode);
        return commands::scout(address, request.data(), 6, socketOut);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorScout1(const char* address, uint8_t extra,
                                                          uint32_t* socketOut) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!address || !socketOut) return 0;
        std::array<uint8_t, 8> request{};
        core::ByteWriter(request)
            .bytes(0, commands::kScoutCode, 4)
            .u8(4, commands::kScoutSubCode)
            .u8(5, extra);
        return commands::scout(address, request.data(), 8, socketOut);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL PhotoTest(const char* address) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!address) return 0;
        std::array<uint8_t, 5> request{};
        core::ByteWriter(request).bytes(0, commands::kPhotoTestCode, 4).u8(4, commands::kPhotoTestSubCode);
        return commands::command_exchange(address, request, commands::acknowledged_after_every_wait());
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorFlag(const char* address, uint8_t kind,
                                                        const char* cardText, const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!core::ParseMacText(macText, mac) || !address || !cardText) return 0;
        const uint8_t site = commands::read_byte_field(cardText, 0, 3);
        // Quotient and remainder as the signed number gives them, low 8 bits each.
        const int32_t number = commands::read_decimal_field(cardText, 3, 5);
        const auto high = static_cast<uint8_t>((number / 256) & 0xFF);
        const auto low = static_cast<uint8_t>((number % 256) & 0xFF);
        std::array<uint8_t, 16> request{};
        core::ByteWriter(request)
            .bytes(0, kind == commands::kFlagKindOne ? commands::kFlagCodeOne : commands::kFlagCodeOther, 4)
            .u8(commands::kSiteAt, site)
            .u8(commands::kCardNumberAt, high)
            .u8(commands::kCardNumberAt + 1, low)
            .bytes(commands::kFlagMacAt, mac);
        core::ExchangeProfile profile = commands::acknowledged_after_wait();
        profile.waitBeforeLaterReceive = true;
        profile.copies = commands::kFlagCopies;
        profile.replyCapacity = commands::kFlagReplyCapacity;
        profile.check = core::ReplyCheck::Built;
        core::ByteWriter(profile.builtReply)
            .bytes(0, commands::kFlagReplyCode, 4)
            .bytes(4, request.data() + commands::kSiteAt, 3);
        return commands::command_exchange(address, request, profile);
    });
}
