// What the HTTP server can be told (serve's options and TOML file).
#pragma once

#include <cstddef>
#include <set>
#include <string>

namespace doorlinkd {

struct HttpOptions {
    std::string listen = "127.0.0.1:8080";  // ADDR:PORT; port 0 picks a free one
    std::string tlsCert, tlsKey;            // both or neither: HTTPS
    int threads = 16;                       // workers for requests
    int maxStreams = 32;                    // event streams open at once (each holds a worker)
    size_t bodyLimit = 16UL * 1024 * 1024;  // bytes; past it 413
    // Reverse proxies whose X-Forwarded-For is believed, as normal_address
    // writes them; none by default.
    std::set<std::string> trustedProxies;
};

}  // namespace doorlinkd
