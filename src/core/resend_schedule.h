// The waits of one request under the adaptive wait: when it goes again early,
// and when the silence has lasted the whole readiness wait. The fixed wait
// receives once for up to 2 seconds and then counts a silence; here the
// request goes again each time its controller's timeout passes with nothing
// received, and a silence is counted only when the readiness wait has passed
// since the later of the last send that the fixed wait makes too (the first
// one, and one after a reply or a silence) and the last datagram received.
// So every rule that counts silences counts 2-second silences, as it always
// has, and a call still fails only after 2 seconds in which nothing came.
#pragma once

#include <cstdint>

#include "core/adaptive_wait.h"
#include "core/library_state.h"
#include "core/repeatable.h"
#include "core/transport.h"

namespace doorlink::core {

static_assert(kMaxResendTimeoutMs == kReadinessWaitMs, "no timeout is longer than the readiness wait");

// Early resends of one request. Each one backs the controller's timeout off,
// which 11 doublings take from any lower bound to 2 seconds; but another
// call's clean round trip takes the backoff back, so only a count bounds
// them. Past it the request keeps the fixed wait.
constexpr int kMaxEarlyResends = 16;

class ResendSchedule {
public:
    // Off, leaving every wait fixed and doing nothing at all, unless the
    // request is repeatable and its controller (network order) has the
    // adaptive wait on.
    ResendSchedule(Transport& transport, uint32_t controller, Repeatable request)
        : transport_(transport),
          waits_(LibraryState::get().adaptive_waits()),
          controller_(controller),
          minimumMs_(request == Repeatable::No ? 0 : waits_.minimum_ms(controller)) {}

    bool on() const { return minimumMs_ > 0 && earlyResends_ < kMaxEarlyResends; }

    // A send that the fixed wait makes too: the silence starts again.
    void sent() {
        if (!on()) return;
        const uint32_t now = transport_.now_ms();
        if (sends_++ == 0) firstSentAt_ = now;
        silentSince_ = now;
        resend_after(now);
    }
    // A send because the timeout passed: the controller's timeout backs off,
    // the request measures no round trip any more, and one of its early
    // resends is spent.
    void resent_early() {
        waits_.timed_out(controller_);
        ++sends_;
        ++earlyResends_;
        resend_after(transport_.now_ms());
    }
    // The due reply came: a round trip, when the request went once.
    void answered() {
        if (on() && sends_ == 1) waits_.measured(controller_, transport_.now_ms() - firstSentAt_);
    }

    // One receive on socket until the timeout or the end of the silence;
    // -1 when nothing came, and then silence_over() tells which of the two.
    int receive(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from) {
        const uint32_t now = transport_.now_ms();
        const int toResend = until(resendAt_, now);
        const int toSilence = until(silence_end(), now);
        const int length = transport_.receive_within(socket, buffer, capacity, from,
                                                     toResend < toSilence ? toResend : toSilence);
        if (length != -1) heard();
        return length;
    }
    // Any datagram received: the silence starts again.
    void heard() {
        if (on()) silentSince_ = transport_.now_ms();
    }
    bool silence_over() const { return until(silence_end(), transport_.now_ms()) == 0; }
    // Milliseconds until the request may go again early; 0 when it may now.
    int until_resend() const { return until(resendAt_, transport_.now_ms()); }

private:
    void resend_after(uint32_t now) {
        resendAt_ = now + static_cast<uint32_t>(waits_.timeout_ms(controller_, minimumMs_));
    }
    uint32_t silence_end() const { return silentSince_ + static_cast<uint32_t>(kReadinessWaitMs); }
    // Milliseconds from now to a moment (tick counts wrap), none when passed.
    static int until(uint32_t moment, uint32_t now) {
        const int32_t left = static_cast<int32_t>(moment - now);
        return left < 0 ? 0 : left;
    }

    Transport& transport_;
    AdaptiveWaits& waits_;
    const uint32_t controller_;
    const int minimumMs_;
    uint32_t firstSentAt_ = 0;
    uint32_t silentSince_ = 0;
    uint32_t resendAt_ = 0;
    int sends_ = 0;
    int earlyResends_ = 0;
};

}  // namespace doorlink::core
