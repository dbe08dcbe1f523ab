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

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string bearer_token(const std::string& authorization) {
    const size_t first = authorization.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const size_t last = authorization.find_last_not_of(" \t");
    std::string header = authorization.substr(first, last - first + 1);
    const size_t schemeEnd = std::find_if(header.begin(), header.end(), is_blank) - header.begin();
    std::string scheme = header.substr(0, schemeEnd);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme != "bearer") return header;  // not a bearer token: presented and not valid
    const size_t token = header.find_first_not_of(" \t", schemeEnd);
    return token == std::string::npos ? "" : header.substr(token);
}

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
    const std::string token = bearer_token(call.request.get_header_value("Authorization"));
    if (token.empty()) throw HttpError(401, "a token is required (Authorization: Bearer TOKEN)");
    std::string hash;
    std::optional<TokenInfo> info;
    if (token.size() <= kMaxTokenLength) {
        hash = token_hash(token);
        info = store.token_by_hash(hash);
    }
    if (!info) {
        const std::string& address = call.actor.address;
        const auto now = AuthFailures::Clock::now();
        if (const int wait = failures.blocked_for(address, now)) {
            throw HttpError(429, "too many tokens that are not valid from " + address + "; try again later",
                            wait);
        }
        failures.failed(address, now);
        throw HttpError(401, "the token is not valid");
    }
    call.authenticated = true;
    call.actor.who = info->name;
    call.role = info->role;
    call.tokenHash = hash;
    if (!role_allows(info->role, needed)) {
        throw HttpError(403, std::string("the role ") + role_name(info->role) + " may not do this; " +
                                 role_name(needed) + " may");
    }
}

}  // namespace doorlinkd
