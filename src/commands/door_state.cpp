// Door state queries: the current state (0..3), the raw state replies of
// selectors 0..3, and the record and direction values.
#include "commands/command_request.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"

namespace doorlink::commands {
namespace {

constexpr uint8_t kStateQueryCode[4] = {0x82, 0x28, 0x38, 0x48};
constexpr uint8_t kStateQuerySubCode = 0x22;
constexpr uint8_t kCurrentStateSelector = 0x04;
constexpr size_t kSelectorAt = 5;
// The current state stands twice in the reply.
constexpr size_t kStateAt = 6;
constexpr size_t kStateAgainAt = 7;
constexpr uint8_t kHighestState = 3;

constexpr uint8_t kClockQueryCode[4] = {0x83, 0x38, 0x48, 0x58};
constexpr uint8_t kRecAndDirSelector = 0x01;
constexpr size_t kRecAt = 6;
constexpr size_t kDirAt = 8;
constexpr int kRecAndDirReplyLength = 14;

void write_state_query(core::ByteWriter& w, uint8_t selector) {
    w.bytes(0, kStateQueryCode, 4).u8(4, kStateQuerySubCode).u8(kSelectorAt, selector);
}

// Reads the state twice over; both must agree and lie within 0..3.
uint32_t current_state(const char* address, const uint8_t* request, int length, uint32_t* state) {
    core::ExchangeProfile profile;
    profile.check = core::ReplyCheck::Echo;
    profile.repeatable = core::Repeatable::StateQuery;
    auto read_state = [&](const core::Reply& reply) {
        const uint8_t value = reply.buffer.u8(kStateAt);
        if (value != reply.buffer.u8(kStateAgainAt) || value > kHighestState) return false;
        *state = value;
        return true;
    };
    return core::RunExchange(core::udp_transport(), address, request, length, profile, read_state).result;
}

// The last state reply of each thread, valid until its next DoorState call.
thread_local std::array<uint8_t, 14> lastStateReply;

}  // namespace
}  // namespace doorlink::commands

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorCurState(const char* address, const char* macText,
                                                            uint32_t* state) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!address || !state || !core::ParseMacText(macText, mac)) return 0;
        std::array<uint8_t, 12> request{};
        core::ByteWriter w(request);
        commands::write_state_query(w, commands::kCurrentStateSelector);
        w.bytes(6, mac);
        return commands::current_state(address, request.data(), 12, state);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL MulDoorCurState(const char* address, const char* macText,
                                                               uint32_t* state, int32_t extra) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!address || !state || !core::ParseMacText(macText, mac) || extra >= 256) return 0;
        std::array<uint8_t, 14> request{};
        core::ByteWriter w(request);
        commands::write_state_query(w, commands::kCurrentStateSelector);
        w.u8(6, static_cast<uint8_t>(extra & 0xFF)).bytes(7, mac);
        return commands::current_state(address, request.data(), 14, state);
    });
}

extern "C" DOORLINK_API const uint8_t* DOORLINK_CALL DoorState(const char* address, uint32_t selector,
                                                               const char* macText) {
    return core::guarded<const uint8_t*>(nullptr, [&]() -> const uint8_t* {
        core::Mac mac;
        if (!address || !core::ParseMacText(macText, mac) || selector > 3) return nullptr;
        std::array<uint8_t, 12> request{};
        core::ByteWriter w(request);
        commands::write_state_query(w, static_cast<uint8_t>(selector));
        w.bytes(6, mac);
        core::ExchangeProfile profile;
        profile.check = core::ReplyCheck::Length;
        profile.replyLength = selector == 1 ? 14 : 10;
        profile.repeatable = core::Repeatable::StateQuery;
        std::array<uint8_t, 14> reply{};
        auto keep = [&](const core::Reply& r) {
            return r.buffer.copy(0, reply.data(), static_cast<size_t>(r.length));
        };
        if (commands::command_exchange(address, request, profile, keep) != 1) return nullptr;
        commands::lastStateReply = reply;
        return commands::lastStateReply.data();
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorRecAndDir(const char* address, uint32_t* rec,
                                                             uint32_t* dir, const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!address || !rec || !dir || !core::ParseMacText(macText, mac)) return 0;
        std::array<uint8_t, 12> request{};
        core::ByteWriter(request)
            .bytes(0, commands::kClockQueryCode, 4)
            .u8(4, 0x33)
            .u8(5, commands::kRecAndDirSelector)
            .bytes(6, mac);
        core::ExchangeProfile profile;
        profile.check = core::ReplyCheck::Length;
        profile.replyLength = commands::kRecAndDirReplyLength;
        profile.repeatable = core::Repeatable::ClockQuery;
        auto read_values = [&](const core::Reply& reply) {
            *rec = reply.buffer.u16_be(commands::kRecAt);
            *dir = reply.buffer.u16_be(commands::kDirAt);
            return true;
        };
        return commands::command_exchange(address, request, profile, read_values);
    });
}
