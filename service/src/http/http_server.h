// The REST API under /api/v1, /health, /metrics and the web page at /,
// over HTTP or HTTPS. Every /api/v1 route and /metrics need
// a token (Authorization: Bearer); roles are enforced here, and every write
// is audited with who, what, from where and the result.
#pragma once

#include <memory>

#include "fleet/event_hub.h"
#include "fleet/fleet.h"
#include "fleet/metrics.h"
#include "http/http_options.h"
#include "store/store.h"

namespace doorlinkd {

class HttpServer {
public:
    HttpServer(Store& store, Fleet& fleet, EventHub& hub, Metrics& metrics, const HttpOptions& options);
    ~HttpServer();  // stops
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and serves from threads of its own (beast_server.h says how a
    // connection is served); Refused when the address
    // cannot be bound or the TLS files cannot be loaded.
    void start();
    // The port bound (the one chosen when the option said 0).
    int port() const;
    // Ends the event streams and stops listening; returns within a second
    // or two.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace doorlinkd
