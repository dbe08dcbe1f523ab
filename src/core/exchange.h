// The command exchange that every controller command runs with its profile:
// send the request (once, or in a burst), wait for a datagram, check it, and
// resend the same bytes until a reply passes the check, the transport gives up
// (a failed send, or 2 seconds of silence), or 100 replies in a row have been
// rejected. With the adaptive wait on for the controller, a repeatable
// request also goes again each time its timeout passes in silence
// (core/resend_schedule.h); 2 seconds in which nothing came still end it.
#pragma once

#include <array>
#include <cstdint>

#include "core/bytes.h"
#include "core/function_ref.h"
#include "core/repeatable.h"
#include "core/transport.h"

namespace doorlink::core {

// The 10 bytes with which a controller opens a positive reply.
extern const std::array<uint8_t, 10> kAcknowledgement;

constexpr int kMaxRequestLength = 1024;
constexpr int kMaxReplyCapacity = 1055;
// Replies rejected while one reply (of a command, or a record, index or
// block of a transfer) is due: the one that reaches this count ends the call.
constexpr int kMaxRejectedReplies = 100;
constexpr uint32_t kCommandWaitMs = 1000;

enum class ReplyCheck {
    Acknowledgement,  // first 10 bytes of the reply buffer are the acknowledgement
    Echo,             // first 6 bytes of the reply buffer equal those of the request
    Length,           // the last datagram has exactly replyLength bytes
    Built,            // first 10 bytes of the reply buffer equal builtReply
};

struct ExchangeProfile {
    ReplyCheck check = ReplyCheck::Acknowledgement;
    int replyLength = 0;
    std::array<uint8_t, 10> builtReply{};
    bool waitAfterFirstSend = false;      // sleep 1000 ms after the first send (or burst)
    bool waitBeforeLaterReceive = false;  // sleep 1000 ms after every resend
    bool clearBeforeEachReceive = false;  // zero the reply buffer before every receive
    int copies = 1;                       // sends before the first receive
    bool socketToCaller = false;          // on success the open socket goes to the caller
    int replyCapacity = 1024;
    Repeatable repeatable = Repeatable::No;  // whether the adaptive wait may send it early
};

// The reply buffer after a receive that passed the check: the whole buffer
// (bytes past a short datagram are those the buffer held before) and the
// length of the last datagram.
struct Reply {
    ByteReader buffer;
    int length;
};

// Runs once the check has passed; may read the reply, write out-parameters
// and still fail.
using ResultStep = FunctionRef<bool(const Reply&)>;

// Writes the request once the socket is open (and its local port known);
// returns its length, or 0 to give up.
using RequestBuilder = FunctionRef<int(uint16_t localPort, ByteWriter& request)>;

struct ExchangeOutcome {
    uint32_t result = 0;
    SocketHandle socket = 0;  // set only when the socket went to the caller
    uint16_t localPort = 0;
};

ExchangeOutcome RunExchange(Transport& transport, const char* address, const uint8_t* request, int length,
                            const ExchangeProfile& profile, ResultStep step = {});

ExchangeOutcome RunExchange(Transport& transport, const char* address, const ExchangeProfile& profile,
                            RequestBuilder build, ResultStep step = {});

template <size_t N>
ExchangeOutcome RunExchange(Transport& transport, const char* address, const std::array<uint8_t, N>& request,
                            const ExchangeProfile& profile, ResultStep step = {}) {
    return RunExchange(transport, address, request.data(), static_cast<int>(N), profile, step);
}

}  // namespace doorlink::core
