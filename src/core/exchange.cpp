#include "core/exchange.h"

#include <cstring>

#include "core/resend_schedule.h"

namespace doorlink::core {

const std::array<uint8_t, 10> kAcknowledgement = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

namespace {

bool passes_check(const ExchangeProfile& profile, const uint8_t* reply, int received,
                  const uint8_t* request) {
    switch (profile.check) {
        case ReplyCheck::Acknowledgement: return std::memcmp(reply, kAcknowledgement.data(), 10) == 0;
        case ReplyCheck::Echo: return std::memcmp(reply, request, 6) == 0;
        case ReplyCheck::Length: return received == profile.replyLength;
        case ReplyCheck::Built: return std::memcmp(reply, profile.builtReply.data(), 10) == 0;
    }
    return false;
}

}  // namespace

ExchangeOutcome RunExchange(Transport& transport, const char* address, const ExchangeProfile& profile,
                            RequestBuilder build, ResultStep step) {
    ExchangeOutcome outcome;
    const int capacity = profile.replyCapacity < 10 || profile.replyCapacity > kMaxReplyCapacity
                             ? kMaxReplyCapacity
                             : profile.replyCapacity;
    uint8_t reply[kMaxReplyCapacity] = {};
    uint8_t request[kMaxRequestLength] = {};

    SocketHandle socket = transport.open(outcome.localPort);
    if (socket == 0) return outcome;
    auto fail = [&]() {
        transport.close(socket);
        return ExchangeOutcome{0, 0, outcome.localPort};
    };

    ByteWriter writer(request, sizeof request);
    const int length = build(outcome.localPort, writer);
    if (length < 1 || length > kMaxRequestLength || !writer.ok()) return fail();

    Endpoint controller = MakeControllerAddress(address);
    ResendSchedule schedule(transport, controller.address, profile.repeatable);
    const int copies = profile.copies < 1 ? 1 : profile.copies;
    if (!transport.send_copies(socket, request, length, controller, copies)) return fail();
    schedule.sent();
    if (profile.waitAfterFirstSend) transport.sleep(kCommandWaitMs);

    for (int rejected = 0;;) {
        if (profile.clearBeforeEachReceive) std::memset(reply, 0, sizeof reply);
        // Every receive also makes the sender the destination of any resend.
        const int received = schedule.on() ? schedule.receive(socket, reply, capacity, controller)
                                           : transport.receive_own(socket, reply, capacity, controller);
        if (received == -1) {
            if (!schedule.on() || schedule.silence_over()) return fail();
            if (!transport.send_copies(socket, request, length, controller, copies)) return fail();
            schedule.resent_early();
            continue;
        }

        if (passes_check(profile, reply, received, request)) {
            schedule.answered();
            const bool accepted =
                !step || step(Reply{ByteReader(reply, static_cast<size_t>(capacity)), received});
            if (accepted && profile.socketToCaller) {
                transport.hand_over(socket);
                outcome.result = 1;
                outcome.socket = socket;
                return outcome;
            }
            transport.close(socket);
            outcome.result = accepted ? 1 : 0;
            return outcome;
        }
        // A peer that keeps answering wrongly must not hold the caller forever.
        if (++rejected >= kMaxRejectedReplies) return fail();
        if (transport.send(socket, request, length, controller) == -1) return fail();
        schedule.sent();
        if (profile.waitBeforeLaterReceive) transport.sleep(kCommandWaitMs);
    }
}

ExchangeOutcome RunExchange(Transport& transport, const char* address, const uint8_t* request, int length,
                            const ExchangeProfile& profile, ResultStep step) {
    auto copy_request = [&](uint16_t, ByteWriter& writer) {
        writer.bytes(0, request, static_cast<size_t>(length < 0 ? 0 : length));
        return length;
    };
    return RunExchange(transport, address, profile, RequestBuilder(copy_request), step);
}

}  // namespace doorlink::core
