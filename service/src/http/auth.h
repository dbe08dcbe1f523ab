// Who a request comes from: its bearer token, looked up in the store on
// every request (a revoked token is refused at once), and a brake on
// addresses that keep presenting tokens that are not valid.
//
// An address that presents kMaxFailures tokens that are not valid within
// kWindow is blocked for kBlock: every request of it that needs a token is
// answered 429 (with Retry-After) before its token is even looked up, so a
// guess cannot be confirmed during the block. Requests without any token
// (401) are not counted: a browser asks without one before a token is
// entered. Routes that need no token still answer the address.
#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

#include "http/api_call.h"

namespace doorlinkd {

class AuthFailures {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMaxFailures = 10;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::chrono::seconds kBlock{60};

    // Seconds until the address may try again; 0 when it is not blocked.
    int blocked_for(const std::string& address, Clock::time_point now);
    void failed(const std::string& address, Clock::time_point now);

private:
    struct Address {
        std::deque<Clock::time_point> failures;  // within the window
        Clock::time_point blockedUntil{};
    };
    void forget_old(Clock::time_point now);

    std::mutex mutex_;
    std::unordered_map<std::string, Address> addresses_;
};

// Sets the call's actor and role from its token, or throws HttpError: 429
// while the address is blocked, 401 without a valid token, 403 when the
// token's role is below `needed`. A store that fails is 503.
void authenticate(Store& store, AuthFailures& failures, Call& call, Role needed);

}  // namespace doorlinkd
