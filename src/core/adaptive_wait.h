// The adaptive wait, which a host switches on for lossy links (SetAdaptiveWait,
// or DOORLINK_ADAPTIVE_WAIT when the library loads). A request that may
// safely go twice (core/repeatable.h) is sent again when its reply is later
// than a retransmission timeout computed from the round trips measured to
// its controller, instead of after the 2-second readiness wait. As TCP does
// per destination: RTO = SRTT + 4 RTTVAR, doubled on each timeout, and only
// a reply to a request that went once measures a round trip (Karn's rule).
// The timeout lies between the host's lower bound and the readiness wait.
//
// Both the settings and the estimates are kept per controller address
// across calls, in a table of the library state that is bounded in size.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>

#include "platform/threads.h"

namespace doorlink::core {

// The longest timeout: the readiness wait (static_assert in resend_schedule.h).
constexpr int kMaxResendTimeoutMs = 2000;
// Before any round trip is measured: a quarter of TCP's initial second, so
// that the readiness wait leaves room for three early resends; a guess too
// short for a slow controller is corrected by the backoff, which lasts until
// a reply measures a round trip.
constexpr int kInitialResendTimeoutMs = 250;
// Controllers whose round trips are kept; the one used longest ago makes
// room for a new one.
constexpr size_t kMaxEstimatedControllers = 1024;
// Controllers with a lower bound of their own.
constexpr size_t kMaxAddressSettings = 65536;

// The round trips measured to one controller, and the timeout they give.
class RetransmissionTimeout {
public:
    // A round trip of a request that went once: a new timeout, not backed off.
    void measured(uint32_t roundTripMs);
    // No reply within the timeout: the next one is twice as long.
    void timed_out() {
        if (backoffs_ < kMaxBackoffs) ++backoffs_;
    }
    // The timeout, within minimumMs and kMaxResendTimeoutMs.
    int timeout_ms(int minimumMs) const;

private:
    // 2^11 times any timeout of at least 1 ms passes the longest one.
    static constexpr int kMaxBackoffs = 11;
    double smoothed_ = 0;   // SRTT
    double variation_ = 0;  // RTTVAR
    bool measured_ = false;
    int backoffs_ = 0;
};

// The adaptive wait's settings and estimates of every controller, by address
// (network order, as platform::ipv4_from_text gives it). Thread-safe.
class AdaptiveWaits {
public:
    // The lower bound minimumMs (1..2000; 0 switches it off) for the
    // controller at address, or for every controller when address is null
    // (which replaces every single controller's setting). False, changing
    // nothing, for a bound outside 0..2000, an address that is not dotted
    // IPv4 text, or a table of settings that is full.
    bool set(const char* address, int32_t minimumMs);
    // The lower bound for the controller; 0 when the adaptive wait is off.
    int minimum_ms(uint32_t address) const;

    int timeout_ms(uint32_t address, int minimumMs);
    void timed_out(uint32_t address);
    void measured(uint32_t address, uint32_t roundTripMs);

private:
    struct Estimate {
        RetransmissionTimeout timeout;
        uint64_t lastUse = 0;
    };
    // Under the lock: the controller's estimate, made when first wanted.
    RetransmissionTimeout& estimate(uint32_t address);
    void update_any_on();

    mutable platform::Mutex lock_;
    // Whether any controller has the adaptive wait on: while none has, a
    // request looks no further.
    std::atomic<bool> anyOn_{false};
    int everyMinimumMs_ = 0;
    std::map<uint32_t, int> minimums_;  // controllers set on their own
    std::map<uint32_t, Estimate> estimates_;
    uint64_t uses_ = 0;
};

// Whether text is dotted IPv4: four decimal numbers 0..255.
bool is_dotted_ipv4(const char* text);

}  // namespace doorlink::core
