// The socket of one transfer that runs its own request loop over the
// transport seam (card list download and read-back, record retrieval, pushed
// photos): opened when the transfer starts and closed on every path, or
// borrowed from the host (the monitoring socket). Every receive makes the
// sender the destination of the next send, as in every controller exchange.
//
// Networks deliver some datagrams twice, and controllers answer resent
// requests again, so a transfer also sees stale replies: answers to a record,
// index or block it has already had. A stale reply is no reason to send
// again; the link keeps receiving for a short grace, a few round trips as
// measured in this transfer, in which the reply that is due may still come.
// Only when it does not is the request sent again.
//
// With the adaptive wait on for the controller, a repeatable request also
// goes again each time its timeout passes in silence (core/resend_schedule.h);
// silences are still counted only after 2 seconds in which nothing came.
//
// Every receiving loop ends against any peer, by counts rather than times:
// a record, index or block that is due is asked for again at most
// kMaxRejectedReplies times for wrong replies and stale ones whose grace ran
// out, and one wait passes over at most kMaxStaleReplies stale replies.
// Silences keep their own limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "core/exchange.h"
#include "core/resend_schedule.h"
#include "core/transport.h"

namespace doorlink::core {

// How a received datagram stands to the request last sent.
enum class Fit {
    Due,    // the reply the request awaits
    Stale,  // an answer to an earlier request of this transfer
    Wrong,  // anything else
};

// What awaiting a reply came to.
enum class Awaited {
    Due,         // the due reply is in the buffer
    Wrong,       // a wrong reply is in the buffer
    GraceOver,   // stale replies only, and the grace after the first one ended
    Silence,     // nothing within the readiness wait
    ResendDue,   // nothing within the adaptive wait's timeout: the request may go again
    StaleFlood,  // more stale replies than kMaxStaleReplies for one request
};

// Stale replies passed over while one reply is awaited; the next one ends the
// transfer, so that a peer replaying old answers cannot hold it forever.
constexpr int kMaxStaleReplies = 100;
// The grace after a stale reply: this many smoothed round trips, within sane
// bounds; before any round trip is measured, the default.
constexpr int kGraceRoundTrips = 4;
constexpr int kMinGraceMs = 30;
constexpr int kMaxGraceMs = 500;
constexpr int kDefaultGraceMs = 100;

// Round trips of one transfer: from a send to the first due reply after it.
// A due reply that no send of this transfer preceded (the first block of a
// pushed photo, the blocks that follow it unasked) measures nothing. Tick
// counts wrap after 49.7 days; their difference is taken modulo 2^32 and
// kept in a type that cannot overflow.
class RoundTrips {
public:
    void sent(uint32_t now) {
        sentAt_ = now;
        awaiting_ = true;
    }
    void answered(uint32_t now) {
        if (!awaiting_) return;
        awaiting_ = false;
        const uint64_t sample = static_cast<uint32_t>(now - sentAt_);
        smoothed_ = measured_ ? (7 * smoothed_ + sample) / 8 : sample;
        measured_ = true;
    }
    int grace_ms() const {
        if (!measured_) return kDefaultGraceMs;
        const uint64_t grace = kGraceRoundTrips * smoothed_;
        return grace < kMinGraceMs   ? kMinGraceMs
               : grace > kMaxGraceMs ? kMaxGraceMs
                                     : static_cast<int>(grace);
    }

private:
    uint32_t sentAt_ = 0;
    bool awaiting_ = false;
    uint64_t smoothed_ = 0;
    bool measured_ = false;
};

class ControllerLink {
public:
    // Opens a socket to the controller at address (UDP port 9000).
    ControllerLink(Transport& transport, const char* address) : transport_(transport), owned_(true) {
        socket_ = transport_.open(localPort_);
        to_ = MakeControllerAddress(address);
        controller_ = to_.address;
    }
    // Uses the host's socket; sends go to the sender of the last datagram.
    ControllerLink(Transport& transport, SocketHandle borrowed)
        : transport_(transport), socket_(borrowed), owned_(false) {}
    ~ControllerLink() { close(); }
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    bool open() const { return socket_ != 0; }
    void close() {
        if (socket_ != 0 && owned_) transport_.close(socket_);
        socket_ = 0;
    }
    bool send(const uint8_t* data, size_t length) {
        roundTrips_.sent(transport_.now_ms());
        return transport_.send(socket_, data, static_cast<int>(length), to_) != -1;
    }
    // The same datagram several times in a row, without waiting in between.
    bool send_copies(const uint8_t* data, size_t length, int copies) {
        roundTrips_.sent(transport_.now_ms());
        return transport_.send_copies(socket_, data, static_cast<int>(length), to_, copies);
    }
    // The bytes received, or -1.
    int receive(uint8_t* buffer, int capacity) {
        return owned_ ? transport_.receive_own(socket_, buffer, capacity, to_)
                      : transport_.receive(socket_, buffer, capacity, to_);
    }

    // The waits of one request to this controller: off on a borrowed socket,
    // whose sender the host chose.
    ResendSchedule resend_schedule(Repeatable request) {
        return ResendSchedule(transport_, controller_, owned_ ? request : Repeatable::No);
    }

    struct Reply {
        Awaited outcome;
        int length;  // of the datagram in the buffer; -1 when none
    };

    // Receives until a datagram that fit() finds due or wrong, passing over
    // stale ones until the grace after the first of them ends. fit sees the
    // length of each datagram in buffer; with clearFirst the buffer is zeroed
    // before every receive. With a schedule that is on, a wait ends early
    // when the request may go again.
    template <class FitOf>
    Reply await(uint8_t* buffer, int capacity, bool clearFirst, FitOf fit,
                ResendSchedule* schedule = nullptr) {
        const bool adaptive = schedule && schedule->on();
        bool inGrace = false;
        uint32_t graceEnds = 0;
        for (int stale = 0;;) {
            if (clearFirst) std::memset(buffer, 0, static_cast<size_t>(capacity));
            int length;
            if (inGrace) {
                // Under the adaptive wait the request's own timeout may end
                // the grace sooner: the due reply is then as late as if no
                // stale one had come.
                const int32_t graceLeft = static_cast<int32_t>(graceEnds - transport_.now_ms());
                const int left = graceLeft < 0 ? 0 : graceLeft;
                const int toResend = adaptive ? schedule->until_resend() : left;
                const bool resendFirst = toResend < left;
                length =
                    transport_.receive_within(socket_, buffer, capacity, to_, resendFirst ? toResend : left);
                if (length == -1) return {resendFirst ? Awaited::ResendDue : Awaited::GraceOver, -1};
                if (adaptive) schedule->heard();
            } else if (adaptive) {
                length = schedule->receive(socket_, buffer, capacity, to_);
                if (length == -1)
                    return {schedule->silence_over() ? Awaited::Silence : Awaited::ResendDue, -1};
            } else {
                length = receive(buffer, capacity);
                if (length == -1) return {Awaited::Silence, -1};
            }
            switch (fit(length)) {
                case Fit::Due:
                    roundTrips_.answered(transport_.now_ms());
                    if (adaptive) schedule->answered();
                    return {Awaited::Due, length};
                case Fit::Wrong: return {Awaited::Wrong, length};
                case Fit::Stale:
                    if (++stale > kMaxStaleReplies) return {Awaited::StaleFlood, length};
                    if (!inGrace) {
                        inGrace = true;
                        graceEnds = transport_.now_ms() + static_cast<uint32_t>(roundTrips_.grace_ms());
                    }
                    break;
            }
        }
    }

    // await(), sending again with resend() each time the schedule lets the
    // request go early; nullopt when such a send fails. The outcome is never
    // ResendDue.
    template <class FitOf, class Resend>
    std::optional<Reply> await_resending(uint8_t* buffer, int capacity, bool clearFirst, FitOf fit,
                                         ResendSchedule* schedule, Resend resend) {
        Reply got = await(buffer, capacity, clearFirst, fit, schedule);
        while (got.outcome == Awaited::ResendDue) {
            if (!resend()) return std::nullopt;
            schedule->resent_early();
            got = await(buffer, capacity, clearFirst, fit, schedule);
        }
        return got;
    }

    // Sends request (copies in a row) until its due reply comes. It goes
    // again after a wrong reply and after stale replies whose grace ended, at
    // most kMaxRejectedReplies times in all, after which a peer that keeps
    // answering wrongly or with old answers is given up; and after a silence,
    // while silencesAllowed last. A repeatable request also goes early, as
    // the adaptive wait says. True with the due reply in buffer.
    template <class FitOf>
    bool request(const uint8_t* request, size_t length, int copies, uint8_t* buffer, int capacity,
                 bool clearFirst, FitOf fit, int silencesAllowed = 0,
                 Repeatable repeatable = Repeatable::No) {
        ResendSchedule schedule = resend_schedule(repeatable);
        for (int rejected = 0, silences = 0;;) {
            if (!send_copies(request, length, copies)) return false;
            schedule.sent();
            const std::optional<Reply> got =
                await_resending(buffer, capacity, clearFirst, fit, &schedule,
                                [&] { return send_copies(request, length, copies); });
            if (!got) return false;
            switch (got->outcome) {
                case Awaited::Due: return true;
                case Awaited::GraceOver:
                case Awaited::Wrong:
                    if (++rejected >= kMaxRejectedReplies) return false;
                    break;
                case Awaited::Silence:
                    if (++silences > silencesAllowed) return false;
                    break;
                case Awaited::StaleFlood:
                case Awaited::ResendDue: return false;
            }
        }
    }

private:
    Transport& transport_;
    SocketHandle socket_ = 0;
    const bool owned_;
    uint16_t localPort_ = 0;
    Endpoint to_;
    uint32_t controller_ = 0;  // the address the transfer named, for its adaptive wait
    RoundTrips roundTrips_;
};

}  // namespace doorlink::core
