#include "http/http_server.h"

#include <csignal>
#include <iostream>
#include <thread>

#include "http/auth.h"
#include "http/client_address.h"
#include "http/routes.h"
#include "http/web_routes.h"

namespace doorlinkd {
namespace {

// How long a stalled client may hold a worker, and how long an idle
// connection is kept: stop() waits for both, so they are short.
constexpr time_t kReadWriteTimeout = 3;
constexpr time_t kKeepAliveTimeout = 1;
constexpr size_t kKeepAliveRequests = 100;

const char* const kContentSecurityPolicy =
    "default-src 'self'; img-src 'self' blob: data:; connect-src 'self'; style-src 'self'; "
    "script-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'";

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

std::unique_ptr<httplib::Server> make_server(const HttpOptions& options) {
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        throw Refused("HTTPS needs both a certificate and its key");
    }
    if (options.tlsCert.empty()) return std::make_unique<httplib::Server>();
    auto server = std::make_unique<httplib::SSLServer>(options.tlsCert.c_str(), options.tlsKey.c_str());
    if (!server->is_valid()) {
        throw Refused("cannot load the TLS certificate " + options.tlsCert + " and key " + options.tlsKey);
    }
    return server;
}

const char* status_text(int status) {
    switch (status) {
        case 400: return "bad request";
        case 404: return "no such path";
        case 405: return "method not allowed";
        case 413: return "the body is too large";
        case 414: return "the path is too long";
        case 416: return "the range cannot be served";
        case 431: return "the headers are too large";
        case 500: return "internal error";
        case 503: return "not available now";
        default: return "the request failed";
    }
}

// What the audit may hold: printable UTF-8 (a path or an error may echo
// any bytes sent).
std::string printable(const std::string& text) {
    if (is_printable_utf8(text)) return text;
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    }
    return out;
}

// The status of a failure the service's parts report.
int status_of(const std::exception& e) {
    if (dynamic_cast<const NotFound*>(&e)) return 404;
    if (dynamic_cast<const Refused*>(&e)) return 400;
    if (dynamic_cast<const Unreachable*>(&e)) return 504;
    if (dynamic_cast<const Busy*>(&e)) return 409;
    if (dynamic_cast<const StoreError*>(&e)) return 503;
    return 500;
}

bool is_write(const std::string& method) { return method == "POST" || method == "PUT" || method == "DELETE"; }

}  // namespace

struct HttpServer::Impl {
    Impl(Store& store, Fleet& fleet, EventHub& hub, Metrics& metrics, const HttpOptions& opts)
        : options(opts), streams(opts.maxStreams), services{store,   fleet,   hub,     metrics,
                                                            options, streams, stopping} {}

    HttpOptions options;
    std::atomic<bool> stopping{false};
    StreamSlots streams;
    Services services;
    AuthFailures failures;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    int port = 0;
    bool started = false;
    bool stopped = false;
    std::mutex mutex;  // start and stop

    void configure();
    void serve(const Route& route, const std::vector<std::string>& names, const httplib::Request& request,
               httplib::Response& response);
    void answer_failure(Call& call, std::string& error);
    void write_audit(const Call& call, const std::string& error);
    httplib::Server::HandlerResponse answer_unrouted(const httplib::Request& request,
                                                     httplib::Response& response);
    void add_headers(const httplib::Request& request, httplib::Response& response);
};

void HttpServer::Impl::configure() {
    const size_t workers =
        static_cast<size_t>(std::max(1, options.threads) + std::max(0, options.maxStreams));
    server->new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    server->set_read_timeout(kReadWriteTimeout, 0);
    server->set_write_timeout(kReadWriteTimeout, 0);
    server->set_keep_alive_timeout(kKeepAliveTimeout);
    server->set_keep_alive_max_count(kKeepAliveRequests);
    server->set_payload_max_length(options.bodyLimit);

    for (const Route& route : api_routes()) {
        const std::string pattern = path_regex(route.path);
        auto handler = [this, &route, names = path_names(route.path)](const httplib::Request& request,
                                                                      httplib::Response& response) {
            serve(route, names, request, response);
        };
        const std::string method = route.method;
        if (method == "GET") server->Get(pattern, handler);
        if (method == "POST") server->Post(pattern, handler);
        if (method == "PUT") server->Put(pattern, handler);
        if (method == "DELETE") server->Delete(pattern, handler);
    }
    register_web_files(*server);

    server->set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
        if (request.path.size() <= kMaxPath) return httplib::Server::HandlerResponse::Unhandled;
        reply_error(response, 414, "the path is longer than " + std::to_string(kMaxPath) + " bytes");
        return httplib::Server::HandlerResponse::Handled;
    });
    server->set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request& request, httplib::Response& response) {
            return answer_unrouted(request, response);
        }));
    server->set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, const std::exception_ptr&) {
            reply_error(response, 500, "internal error");
        });
    server->set_post_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        add_headers(request, response);
    });
}

void HttpServer::Impl::serve(const Route& route, const std::vector<std::string>& names,
                             const httplib::Request& request, httplib::Response& response) {
    Call call(request, response);
    std::vector<std::string> forwardedFor;
    const auto [first, last] = request.headers.equal_range("X-Forwarded-For");
    for (auto it = first; it != last; ++it) forwardedFor.push_back(it->second);
    call.actor.address = client_address(request.remote_addr, forwardedFor, options.trustedProxies);
    for (size_t i = 0; i < names.size() && i + 1 < request.matches.size(); ++i) {
        call.params[names[i]] = request.matches[i + 1].str();
    }
    if (!names.empty()) call.target = call.params[names.front()];
    std::string error;
    try {
        if (route.role) authenticate(services.store, failures, call, *route.role);
        route.handler(services, call);
    } catch (...) {
        answer_failure(call, error);
    }
    if (call.authenticated && is_write(request.method)) write_audit(call, error);
}

void HttpServer::Impl::answer_failure(Call& call, std::string& error) {
    int status = 500;
    std::string retryAfter;
    try {
        throw;
    } catch (const HttpError& e) {
        status = e.status();
        error = e.what();
        if (e.retry_after() > 0) retryAfter = std::to_string(e.retry_after());
    } catch (const RowsRefused& e) {
        call.response.headers.clear();
        reply(call, 400, outcome_of_rows(e).json);
        error = e.what();
        return;
    } catch (const std::exception& e) {
        status = status_of(e);
        // What failed inside is for the log only: a database's error names
        // its host, user and database, to anyone, tokens or not.
        const bool inside = status == 500 || dynamic_cast<const StoreError*>(&e) != nullptr;
        error = status == 500 ? "internal error" : inside ? "the database does not answer" : e.what();
        if (inside) {
            std::cerr << "doorlinkd: " << call.request.method << ' ' << printable(call.request.path) << ": "
                      << e.what() << std::endl;
        }
    } catch (...) {
        error = "internal error";
    }
    // Headers a handler set for its success do not go with the error.
    call.response.headers.clear();
    if (!retryAfter.empty()) call.response.set_header("Retry-After", retryAfter);
    reply_error(call.response, status, error);
}

void HttpServer::Impl::write_audit(const Call& call, const std::string& error) {
    AuditEntry entry;
    entry.who = call.actor.who;
    entry.address = call.actor.address;
    entry.action = printable(call.request.method + " " + call.request.path);
    entry.target = printable(call.target);
    const int status = call.response.status;
    entry.result = status < 400 ? "ok" : printable(std::to_string(status) + " " + error);
    entry.detail = printable(call.detail);
    try {
        services.store.audit(entry);
    } catch (const std::exception& e) {
        std::cerr << "doorlinkd: the audit entry of " << entry.action << " by " << entry.who
                  << " could not be stored: " << e.what() << std::endl;
    }
}

httplib::Server::HandlerResponse HttpServer::Impl::answer_unrouted(const httplib::Request& request,
                                                                   httplib::Response& response) {
    if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;  // a handler's answer
    int status = response.status;
    if (status == 404) {
        std::string allowed = allowed_methods(request.path);
        if (allowed.empty() && is_web_path(request.path)) allowed = "GET, HEAD";
        if (!allowed.empty()) {
            status = 405;
            response.set_header("Allow", allowed);
        }
    }
    reply_error(response, status, status_text(status));
    return httplib::Server::HandlerResponse::Handled;
}

void HttpServer::Impl::add_headers(const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Security-Policy", kContentSecurityPolicy);
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Referrer-Policy", "no-referrer");
    response.set_header("X-Frame-Options", "DENY");
    if (!response.has_header("Cache-Control")) response.set_header("Cache-Control", "no-store");
    services.metrics.http_request(response.status);
}

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
    impl_->server = make_server(impl_->options);
    impl_->configure();
    if (listen.port == 0) {
        impl_->port = impl_->server->bind_to_any_port(listen.host);
    } else if (impl_->server->bind_to_port(listen.host, listen.port)) {
        impl_->port = listen.port;
    } else {
        impl_->port = -1;
    }
    if (impl_->port <= 0) throw Refused("cannot listen on " + impl_->options.listen);
    impl_->started = true;
    httplib::Server& server = *impl_->server;
    impl_->listener = std::thread([&server] { server.listen_after_bind(); });
    // stop() can end the listening only once it has begun, which is at once.
    for (int i = 0; i < 2000 && !server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int HttpServer::port() const { return impl_->port; }

void HttpServer::stop() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->started || impl_->stopped) return;
    impl_->stopped = true;
    impl_->stopping = true;
    impl_->services.hub.poke();  // the streams waiting see stopping at once
    impl_->server->stop();
    impl_->listener.join();
}

}  // namespace doorlinkd
