// Where a request comes from. Behind a reverse proxy every request arrives
// from the proxy; a proxy the administrator trusts says who its client was
// in X-Forwarded-For, each proxy on the way adding the address it was
// reached from.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace doorlinkd {

// The address in the form the service compares and records it: IPv4
// dotted, IPv6 as inet_ntop writes it (an IPv4-mapped one as IPv4); none
// for a text that is no address.
std::optional<std::string> normal_address(const std::string& text);

// The client's address: the peer's, unless the peer is a trusted proxy;
// then the rightmost X-Forwarded-For entry that is not a trusted proxy (the
// entries of every such header in order, each a list separated by commas).
// Entries left of it were written by whoever the client was, so they are
// never believed. When every entry is trusted, the leftmost one; when the
// one found is no address, or there is no entry at all, the peer's.
std::string client_address(const std::string& peer, const std::vector<std::string>& forwardedFor,
                           const std::set<std::string>& trustedProxies);

}  // namespace doorlinkd
