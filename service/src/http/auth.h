// Who a request comes from: its bearer token, looked up in the store on
// every request (a revoked token is refused at once), and a brake on
// addresses that keep presenting tokens that are not valid.
//
// A valid token is always accepted, whatever other clients of the same
// address did: behind a NAT or a reverse proxy many clients share one. What
// the brake slows down is guessing: an address that presents kMaxFailures
// tokens that are not valid within kWindow is blocked for kBlock, and every
// token of it that is not valid is answered 429 (with Retry-After) at once,
// never held open. Requests without a token (no Authorization header, or a
// Bearer scheme with nothing after it) are 401 and not counted: a browser
// asks without one before a token is entered, and a tab that signed out
// may still ask once.
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

// The token of an Authorization header: "" when there is none (no header,
// or the Bearer scheme, in any case, with only blanks after it); the whole
// header when it is of another scheme (presented, and not valid).
std::string bearer_token(const std::string& authorization);

// Sets the call's actor, role and token hash from its token, or throws
// HttpError: 401 without a token or with one that is not valid, 429 for one
// that is not valid while the address is blocked, 403 when the token's role
// is below `needed`. A store that fails is 503. The address is the call's
// actor address (the client's, behind a trusted proxy).
void authenticate(Store& store, AuthFailures& failures, Call& call, Role needed);

}  // namespace doorlinkd
