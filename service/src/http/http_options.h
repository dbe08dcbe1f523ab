// What the HTTP server can be told (serve's options and TOML file).
#pragma once

#include <cstddef>
#include <set>
#include <string>

namespace doorlinkd {

struct HttpOptions {
    std::string listen = "127.0.0.1:8080";  // ADDR:PORT; port 0 picks a free one
    std::string tlsCert, tlsKey;            // both or neither: HTTPS
    int threads = 16;                       // workers for the handlers (the store, the controllers)
    int maxStreams = 2048;                  // event streams open at once
    size_t bodyLimit = 16UL * 1024 * 1024;  // bytes of an import's body; past it 413
    // Connections open at once from one address (trusted proxies aside);
    // past it a connection is closed at once.
    int maxConnectionsPerAddress = 64;
    // Reverse proxies whose X-Forwarded-For is believed, as normal_address
    // writes them; none by default.
    std::set<std::string> trustedProxies;
};

}  // namespace doorlinkd
