#include "http/http_server.h"

#include <csignal>

#include "http/beast_server.h"
#include "http/dispatch.h"
#include "http/event_feed.h"

namespace doorlinkd {
namespace {

struct Listen {
    std::string host;
    int port = 0;
};

Listen parse_listen(const std::string& text) {
    const size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) > 65535) {
        throw Refused("listen address \"" + text + "\": ADDRESS:PORT (port 0 picks a free one)");
    }
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) throw Refused("listen address \"" + text + "\": ADDRESS:PORT with an address");
    return Listen{host, std::stoi(port)};
}

}  // namespace

struct HttpServer::Impl {
    Impl(Store& store, Fleet& fleet, EventHub& hub, Metrics& metrics, const HttpOptions& opts)
        : options(opts),
          streams(opts.maxStreams),
          services{store, fleet, hub, metrics, options, streams},
          feed(store, hub),
          dispatcher(services),
          connections(dispatcher, feed, services) {}

    HttpOptions options;
    StreamSlots streams;
    Services services;
    EventFeed feed;
    Dispatcher dispatcher;
    ConnectionServer connections;  // ends first: its streams are the feed's
    int port = 0;
    bool started = false;
    bool stopped = false;
    std::mutex mutex;  // start and stop
};

HttpServer::HttpServer(Store& store, Fleet& fleet, EventHub& hub, Metrics& metrics,
                       const HttpOptions& options)
    : impl_(std::make_unique<Impl>(store, fleet, hub, metrics, options)) {}

HttpServer::~HttpServer() { stop(); }

void HttpServer::start() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->started) throw Refused("the HTTP server is started already");
    // A client that goes away while it is answered must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    const Listen listen = parse_listen(impl_->options.listen);
    if (impl_->options.tlsCert.empty() != impl_->options.tlsKey.empty()) {
        throw Refused("HTTPS needs both a certificate and its key");
    }
    impl_->feed.start();
    try {
        impl_->port = impl_->connections.start(listen.host, listen.port);
    } catch (...) {
        impl_->feed.stop();
        throw;
    }
    impl_->started = true;
}

int HttpServer::port() const { return impl_->port; }

void HttpServer::stop() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->started || impl_->stopped) return;
    impl_->stopped = true;
    impl_->connections.stop();
    impl_->feed.stop();
}

}  // namespace doorlinkd
