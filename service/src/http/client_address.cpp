#include "http/client_address.h"

#include <arpa/inet.h>

#include <cstring>

namespace doorlinkd {
namespace {

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::optional<std::string> normal_address(const std::string& text) {
    if (text.empty() || text.size() > 64) return std::nullopt;
    char written[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        return std::string(inet_ntop(AF_INET, &v4, written, sizeof written));
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return std::nullopt;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::memcpy(&v4.s_addr, v6.s6_addr + 12, sizeof v4.s_addr);
        return std::string(inet_ntop(AF_INET, &v4, written, sizeof written));
    }
    return std::string(inet_ntop(AF_INET6, &v6, written, sizeof written));
}

std::string client_address(const std::string& peer, const std::vector<std::string>& forwardedFor,
                           const std::set<std::string>& trustedProxies) {
    std::string self = normal_address(peer).value_or(peer);
    if (trustedProxies.count(self) == 0) return self;
    std::vector<std::string> entries;
    for (const std::string& header : forwardedFor) {
        size_t start = 0;
        for (;;) {
            const size_t comma = header.find(',', start);
            entries.push_back(trimmed(header.substr(start, comma - start)));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        const std::optional<std::string> address = normal_address(*entry);
        if (!address) return self;
        if (trustedProxies.count(*address) == 0 || std::next(entry) == entries.rend()) return *address;
    }
    return self;
}

}  // namespace doorlinkd
