#include "http/auth.h"

#include <algorithm>
#include <cctype>

#include "access/tokens.h"

namespace doorlinkd {
namespace {

// Addresses remembered at once; past it those not blocked are forgotten, so
// that a flood of addresses cannot fill the memory.
constexpr size_t kMaxAddresses = 10000;
constexpr size_t kMaxTokenLength = 200;

// The token of "Authorization: Bearer TOKEN"; "" when there is no such header.
std::string bearer_token(const httplib::Request& request) {
    std::string header = request.get_header_value("Authorization");
    const std::string scheme = "bearer ";
    if (header.size() < scheme.size()) return header.empty() ? "" : header;
    std::string start = header.substr(0, scheme.size());
    std::transform(start.begin(), start.end(), start.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (start != scheme) return header;  // not a bearer token: presented and not valid
    const size_t first = header.find_first_not_of(' ', scheme.size());
    return first == std::string::npos ? header : header.substr(first);
}

}  // namespace

int AuthFailures::blocked_for(const std::string& address, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = addresses_.find(address);
    if (it == addresses_.end() || it->second.blockedUntil <= now) return 0;
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(it->second.blockedUntil - now).count();
    return static_cast<int>(left) + 1;
}

void AuthFailures::failed(const std::string& address, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (addresses_.size() >= kMaxAddresses) forget_old(now);
    Address& entry = addresses_[address];
    while (!entry.failures.empty() && entry.failures.front() <= now - kWindow) entry.failures.pop_front();
    entry.failures.push_back(now);
    if (static_cast<int>(entry.failures.size()) >= kMaxFailures) {
        entry.blockedUntil = now + kBlock;
        entry.failures.clear();
    }
}

void AuthFailures::forget_old(Clock::time_point now) {
    for (auto it = addresses_.begin(); it != addresses_.end();) {
        it = it->second.blockedUntil > now ? std::next(it) : addresses_.erase(it);
    }
}

void authenticate(Store& store, AuthFailures& failures, Call& call, Role needed) {
    const std::string& address = call.request.remote_addr;
    const auto now = AuthFailures::Clock::now();
    if (const int wait = failures.blocked_for(address, now)) {
        throw HttpError(429, "too many tokens that are not valid from " + address + "; try again later",
                        wait);
    }
    const std::string token = bearer_token(call.request);
    if (token.empty()) throw HttpError(401, "a token is required (Authorization: Bearer TOKEN)");
    std::optional<TokenInfo> info;
    if (token.size() <= kMaxTokenLength) info = store.token_by_hash(token_hash(token));
    if (!info) {
        failures.failed(address, now);
        throw HttpError(401, "the token is not valid");
    }
    call.authenticated = true;
    call.actor = Actor{info->name, address};
    call.role = info->role;
    if (!role_allows(info->role, needed)) {
        throw HttpError(403, std::string("the role ") + role_name(info->role) + " may not do this; " +
                                 role_name(needed) + " may");
    }
}

}  // namespace doorlinkd
