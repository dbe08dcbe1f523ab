// Boost.Beast's templates live in this file alone: it is the one that
// takes long to compile.
#include "http/beast_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <limits>
#include <optional>
#include <shared_mutex>
#include <thread>
#include <unordered_map>

#include "fleet/card_holders.h"
#include "http/client_address.h"

namespace doorlinkd {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

constexpr auto kHeaderTime = std::chrono::seconds(10);     // from the connection or the previous answer
constexpr auto kBaseTime = std::chrono::seconds(10);       // a body or an answer: this plus its size at
constexpr uint64_t kBytesPerSecond = uint64_t{64} * 1024;  // this pace
constexpr uint32_t kHeaderLimit = 16 * 1024;               // the request line and headers; past it 431
constexpr auto kStreamComment = std::chrono::seconds(5);   // keeps proxies open, finds clients gone
constexpr size_t kStreamBatch = 100;                       // events written at once
// After an answer that refused a body, what the client still sends is read
// and dropped for a while, so that it reads the answer instead of a reset.
constexpr auto kLinger = std::chrono::seconds(2);
constexpr size_t kLingerBytes = size_t{4} * 1024 * 1024;
constexpr int kIoThreads = 2;  // they only move bytes

std::chrono::milliseconds transfer_time(uint64_t bytes) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(kBaseTime) +
           std::chrono::milliseconds(bytes * 1000 / kBytesPerSecond);
}

// The peer's address as the service writes addresses (IPv4-mapped as IPv4).
std::string peer_text(const tcp::socket& socket) {
    error_code ec;
    const tcp::endpoint endpoint = socket.remote_endpoint(ec);
    if (ec) return {};
    const std::string text = endpoint.address().to_string();
    return normal_address(text).value_or(text);
}

// A failure of the request's syntax (answered 400), as opposed to the
// connection's: closed, cut short or late (closed without an answer).
bool is_syntax_error(const error_code& ec) {
    if (ec.category() != http::make_error_code(http::error::bad_target).category()) return false;
    return ec != http::error::end_of_stream && ec != http::error::partial_message &&
           ec != http::error::need_more && ec != http::error::need_buffer;
}

// Lets an event stream's wake-up, which the feed runs on its own thread,
// touch a connection only while the server's context lives: a wake-up may
// hold the last reference of its connection, which then ends on that
// thread, and stop() closes the gate (waiting for those under way) before
// the context goes.
struct WakeGate {
    std::shared_mutex mutex;
    bool closed = false;
};

}  // namespace

struct ConnectionServer::Impl {
    Impl(Dispatcher& dispatcher_, EventFeed& feed_, Services& services_)
        : dispatcher(dispatcher_),
          feed(feed_),
          services(services_),
          workers(std::make_unique<asio::thread_pool>(
              static_cast<size_t>(std::max(1, services_.options.threads)))) {}

    Dispatcher& dispatcher;
    EventFeed& feed;
    Services& services;
    std::atomic<bool> stopping{false};
    const std::shared_ptr<WakeGate> wakeGate = std::make_shared<WakeGate>();
    std::mutex addressesMutex;
    std::unordered_map<std::string, int> connections;  // open, by the peer's address
    std::optional<asio::ssl::context> tls;             // outlives the connections
    std::unique_ptr<asio::thread_pool> workers;
    std::unique_ptr<asio::io_context> io = std::make_unique<asio::io_context>(kIoThreads);
    std::unique_ptr<tcp::acceptor> acceptor;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::unique_ptr<asio::steady_timer> acceptPause;
    std::vector<std::thread> threads;
    bool started = false;

    void accept();
    void accepted(tcp::socket socket);
    bool admit_address(const std::string& address);
    void release_address(const std::string& address);
};

namespace {

template <class Stream>
class Session : public std::enable_shared_from_this<Session<Stream>> {
public:
    Session(ConnectionServer::Impl& server, Stream stream, std::string peer, bool counted)
        : server_(server),
          stream_(std::move(stream)),
          peer_(std::move(peer)),
          counted_(counted),
          commentTimer_(stream_.get_executor()) {}

    ~Session() {
        if (subscription_) server_.feed.unsubscribe(subscription_);
        if (exchange_ && exchange_->response.streams) server_.services.streams.give_back();
        if (counted_) server_.release_address(peer_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void start() {
        if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
            read_request();
        } else {
            lowest().expires_after(kHeaderTime);
            stream_.async_handshake(asio::ssl::stream_base::server,
                                    [self = this->shared_from_this()](error_code ec) {
                                        if (ec) return self->close();
                                        self->read_request();
                                    });
        }
    }

private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(stream_); }

    // Runs `work` on a worker, then `then` on this connection's strand.
    template <class Work, class Then>
    void on_worker(Work work, Then then) {
        asio::post(*server_.workers, [self = this->shared_from_this(), work, then]() mutable {
            work(*self);
            asio::post(self->stream_.get_executor(), [self, then]() mutable { then(*self); });
        });
    }

    void read_request() {
        if (server_.stopping) return close();
        exchange_.reset();
        header_ = std::make_unique<http::request_parser<http::empty_body>>();
        header_->header_limit(kHeaderLimit);
        // The size a body may have is the route's: told once the headers are in.
        header_->body_limit(std::numeric_limits<std::uint64_t>::max());
        lowest().expires_after(kHeaderTime);
        http::async_read_header(
            stream_, buffer_, *header_,
            [self = this->shared_from_this()](error_code ec, size_t) { self->on_header(ec); });
    }

    void on_header(const error_code& ec) {
        if (ec == http::error::header_limit) return refuse(431);
        if (ec) return is_syntax_error(ec) ? refuse(400) : close();
        const auto& message = header_->get();
        exchange_ = std::make_shared<Exchange>();
        HttpRequest& request = exchange_->request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        split_target(request.target, request.path, request.params);
        for (const auto& field : message) {
            request.headers.emplace(std::string(field.name_string()), std::string(field.value()));
        }
        request.remote_addr = peer_;
        version_ = message.version();
        keepAlive_ = message.keep_alive();
        const auto length = header_->content_length();
        hasBody_ = length ? *length > 0 : header_->chunked();
        on_worker(
            [](Session& self) {
                try {
                    self.admitted_ = self.server_.dispatcher.admit(*self.exchange_);
                } catch (...) {
                    self.admitted_ = false;
                    self.server_.dispatcher.refuse(self.exchange_->response, 500);
                }
            },
            [](Session& self) { self.on_admitted(); });
    }

    void on_admitted() {
        if (!admitted_) return write_answer(exchange_->response, !keepAlive_ || hasBody_);
        if (!hasBody_) return run_handler();
        const auto length = header_->content_length();
        const size_t limit = exchange_->bodyLimit;
        if (length && *length > limit) return refuse(413);
        const std::string expect = std::string(header_->get()[http::field::expect]);
        if (beast::iequals(expect, "100-continue")) {
            continueAnswer_ =
                std::make_shared<http::response<http::empty_body>>(http::status::continue_, version_);
            lowest().expires_after(kBaseTime);
            http::async_write(stream_, *continueAnswer_,
                              [self = this->shared_from_this()](error_code ec, size_t) {
                                  if (ec) return self->close();
                                  self->read_body();
                              });
            return;
        }
        read_body();
    }

    void read_body() {
        const auto length = header_->content_length();
        const size_t limit = exchange_->bodyLimit;
        body_ = std::make_unique<http::request_parser<http::string_body>>(std::move(*header_));
        body_->body_limit(limit);
        lowest().expires_after(transfer_time(length ? *length : limit));
        http::async_read(stream_, buffer_, *body_, [self = this->shared_from_this()](error_code ec, size_t) {
            if (ec == http::error::body_limit) return self->refuse(413);
            if (ec) return is_syntax_error(ec) ? self->refuse(400) : self->close();
            self->exchange_->request.body = self->body_->release().body();
            self->hasBody_ = false;  // read
            self->run_handler();
        });
    }

    void run_handler() {
        on_worker(
            [](Session& self) {
                try {
                    self.server_.dispatcher.answer(*self.exchange_);
                } catch (...) {
                    self.server_.dispatcher.refuse(self.exchange_->response, 500);
                }
            },
            [](Session& self) { self.on_answered(); });
    }

    void on_answered() {
        HttpResponse& response = exchange_->response;
        if (response.streams && !exchange_->head) return start_stream();
        if (response.streams) {  // HEAD: the headers only
            server_.services.streams.give_back();
            response.streams = false;
        }
        write_answer(response, !keepAlive_);
    }

    // An answer of the server's own; the connection ends after it.
    void refuse(int status) {
        if (!exchange_) exchange_ = std::make_shared<Exchange>();  // the request line itself was bad
        server_.dispatcher.refuse(exchange_->response, status);
        write_answer(exchange_->response, true);
    }

    void write_answer(HttpResponse& response, bool last) {
        auto answer = std::make_shared<http::response<http::string_body>>();
        answer->version(version_);
        answer->result(static_cast<unsigned>(response.status));
        for (const auto& [name, value] : response.headers) answer->insert(name, value);
        answer->body() = std::move(response.body);
        answer->keep_alive(!last);
        answer->prepare_payload();
        if (exchange_ && exchange_->head) answer->body().clear();  // its Content-Length stays
        lowest().expires_after(transfer_time(answer->body().size()));
        answer_ = answer;
        http::async_write(stream_, *answer, [self = this->shared_from_this(), last](error_code ec, size_t) {
            self->answer_.reset();
            if (ec) return self->close();
            if (!last) return self->read_request();
            if (self->hasBody_) return self->linger();
            self->close();
        });
    }

    // The client may still be sending the body refused: read and drop it
    // for a while, then close.
    void linger() {
        if constexpr (!std::is_same_v<Stream, beast::tcp_stream>) {
            close();
        } else {
            error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            lowest().expires_after(kLinger);
            drop_more();
        }
    }

    void drop_more() {
        lingerBuffer_.resize(size_t{64} * 1024);
        lowest().async_read_some(asio::buffer(lingerBuffer_),
                                 [self = this->shared_from_this()](error_code ec, size_t n) {
                                     self->dropped_ += n;
                                     if (ec || self->dropped_ > kLingerBytes) return self->close();
                                     self->drop_more();
                                 });
    }

    void close() {
        if (closed_) return;
        closed_ = true;
        commentTimer_.cancel();
        if (subscription_) {
            server_.feed.unsubscribe(subscription_);
            subscription_ = 0;
        }
        error_code ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        lowest().close();
    }

    // The event stream: the headers, then the events the feed brings, each
    // write within its deadline; it ends with the token, the server or the
    // client.
    void start_stream() {
        const HttpResponse& response = exchange_->response;
        const StreamRequest& request = response.stream;
        after_ = request.after;
        outgoing_ = "HTTP/1.1 200 OK\r\n";
        for (const auto& [name, value] : response.headers)
            outgoing_.append(name).append(": ").append(value).append("\r\n");
        outgoing_ += "Connection: close\r\n\r\n";
        // The wake-up holds no executor of the server's: the feed may drop
        // its copy after the server's context is gone.
        std::weak_ptr<Session> weak = this->shared_from_this();
        subscription_ = server_.feed.subscribe(request.tokenHash, [weak, gate = server_.wakeGate] {
            const std::shared_lock<std::shared_mutex> open(gate->mutex);
            if (gate->closed) return;
            if (auto self = weak.lock()) asio::post(self->stream_.get_executor(), [self] { self->pump(); });
        });
        arm_comment();
        write_stream();
    }

    void pump() {
        if (closed_ || writing_) return;
        const StreamRequest& request = exchange_->response.stream;
        if (server_.stopping || server_.feed.revoked(request.tokenHash)) return close();
        EventFeed::Read read = server_.feed.read(after_, request.controller, request.kind, kStreamBatch);
        if (!read.held) return catch_up();
        after_ = read.through;
        for (const Event& event : read.events) append_event(event);
        if (!outgoing_.empty()) write_stream();
    }

    // Events older than the feed holds come from the store, on a worker.
    void catch_up() {
        writing_ = true;
        on_worker(
            [](Session& self) {
                const StreamRequest& request = self.exchange_->response.stream;
                try {
                    // Every event after the feed's oldest is the feed's to give.
                    const int64_t held = self.server_.feed.oldest_held();
                    Store& store = self.server_.services.store;
                    const std::vector<Event> events =
                        with_card_holders(store, store.events(self.after_, request.controller, request.kind,
                                                              static_cast<int>(kStreamBatch)));
                    for (const Event& event : events) self.append_event(event);
                    if (!events.empty()) self.after_ = events.back().id;
                    if (events.size() < kStreamBatch) self.after_ = std::max(self.after_, held);
                } catch (const std::exception&) {
                    self.failed_ = true;  // the client comes back with Last-Event-ID
                }
            },
            [](Session& self) {
                self.writing_ = false;
                if (self.failed_) return self.close();
                if (self.outgoing_.empty()) return self.pump();
                self.write_stream();
            });
    }

    void append_event(const Event& event) {
        outgoing_ += "id: " + std::to_string(event.id) + "\ndata: " + event_json(event) + "\n\n";
    }

    void write_stream() {
        if (closed_) return;
        writing_ = true;
        lowest().expires_after(transfer_time(outgoing_.size()));
        asio::async_write(stream_, asio::buffer(outgoing_),
                          [self = this->shared_from_this()](error_code ec, size_t) {
                              self->writing_ = false;
                              self->outgoing_.clear();
                              if (ec) return self->close();
                              self->lowest().expires_never();
                              self->pump();
                          });
    }

    void arm_comment() {
        commentTimer_.expires_after(kStreamComment);
        commentTimer_.async_wait([self = this->shared_from_this()](error_code ec) {
            if (ec || self->closed_) return;
            if (!self->writing_ && self->outgoing_.empty()) {
                self->outgoing_ = ": keep-alive\n\n";
                self->write_stream();
            }
            self->arm_comment();
        });
    }

    ConnectionServer::Impl& server_;
    Stream stream_;
    const std::string peer_;
    const bool counted_;
    beast::flat_buffer buffer_;
    std::unique_ptr<http::request_parser<http::empty_body>> header_;
    std::unique_ptr<http::request_parser<http::string_body>> body_;
    std::shared_ptr<Exchange> exchange_;
    std::shared_ptr<http::response<http::string_body>> answer_;
    std::shared_ptr<http::response<http::empty_body>> continueAnswer_;
    unsigned version_ = 11;
    bool keepAlive_ = false;
    bool hasBody_ = false;  // a body was announced and not read
    bool admitted_ = false;
    bool closed_ = false;
    std::vector<char> lingerBuffer_;
    size_t dropped_ = 0;
    // The event stream's.
    asio::steady_timer commentTimer_;
    uint64_t subscription_ = 0;
    int64_t after_ = 0;
    std::string outgoing_;
    bool writing_ = false;
    bool failed_ = false;
};

}  // namespace

bool ConnectionServer::Impl::admit_address(const std::string& address) {
    std::lock_guard<std::mutex> lock(addressesMutex);
    int& open = connections[address];
    if (open >= services.options.maxConnectionsPerAddress) return false;
    ++open;
    return true;
}

void ConnectionServer::Impl::release_address(const std::string& address) {
    std::lock_guard<std::mutex> lock(addressesMutex);
    const auto it = connections.find(address);
    if (it != connections.end() && --it->second <= 0) connections.erase(it);
}

void ConnectionServer::Impl::accept() {
    acceptor->async_accept(asio::make_strand(*io), [this](error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || stopping) return;
        if (!ec) {
            accepted(std::move(socket));
        } else if (ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space) {
            // Out of files: the connections open end in time and free some.
            acceptPause->expires_after(std::chrono::milliseconds(100));
            acceptPause->async_wait([this](error_code) {
                if (!stopping) accept();
            });
            return;
        }
        accept();
    });
}

void ConnectionServer::Impl::accepted(tcp::socket socket) {
    const std::string peer = peer_text(socket);
    const bool counted = services.options.trustedProxies.count(peer) == 0;
    if (counted && !admit_address(peer)) {
        services.metrics.http_request(503);
        return;  // the socket closes as it goes
    }
    error_code ignored;
    ignored = socket.set_option(tcp::no_delay(true), ignored);
    if (tls) {
        using TlsStream = beast::ssl_stream<beast::tcp_stream>;
        std::make_shared<Session<TlsStream>>(*this, TlsStream(std::move(socket), *tls), peer, counted)
            ->start();
    } else {
        std::make_shared<Session<beast::tcp_stream>>(*this, beast::tcp_stream(std::move(socket)), peer,
                                                     counted)
            ->start();
    }
}

ConnectionServer::ConnectionServer(Dispatcher& dispatcher, EventFeed& feed, Services& services)
    : impl_(std::make_unique<Impl>(dispatcher, feed, services)) {}

ConnectionServer::~ConnectionServer() { stop(); }

int ConnectionServer::start(const std::string& host, int port) {
    Impl& impl = *impl_;
    const HttpOptions& options = impl.services.options;
    if (!options.tlsCert.empty()) {
        try {
            impl.tls.emplace(asio::ssl::context::tls_server);
            impl.tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                                  asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                                  asio::ssl::context::no_tlsv1_1);
            impl.tls->use_certificate_chain_file(options.tlsCert);
            impl.tls->use_private_key_file(options.tlsKey, asio::ssl::context::pem);
        } catch (const std::exception&) {
            throw Refused("cannot load the TLS certificate " + options.tlsCert + " and key " +
                          options.tlsKey);
        }
    }
    error_code ec;
    tcp::resolver resolver(*impl.io);
    const auto found = resolver.resolve(host, std::to_string(port),
                                        tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || found.empty())
        throw Refused("cannot listen on " + host + ":" + std::to_string(port) + ": no such address");
    impl.acceptor = std::make_unique<tcp::acceptor>(*impl.io);
    const tcp::endpoint endpoint = found.begin()->endpoint();
    ec = impl.acceptor->open(endpoint.protocol(), ec);
    if (!ec) ec = impl.acceptor->set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) ec = impl.acceptor->bind(endpoint, ec);
    if (!ec) ec = impl.acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) throw Refused("cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message());
    const int bound = impl.acceptor->local_endpoint().port();
    impl.acceptPause = std::make_unique<asio::steady_timer>(*impl.io);
    impl.work.emplace(impl.io->get_executor());
    impl.started = true;
    impl.accept();
    for (int i = 0; i < kIoThreads; ++i) impl.threads.emplace_back([&impl] { impl.io->run(); });
    return bound;
}

void ConnectionServer::stop() {
    Impl& impl = *impl_;
    if (!impl.started || impl.stopping.exchange(true)) return;
    impl.work.reset();
    {
        const std::unique_lock<std::shared_mutex> closing(impl.wakeGate->mutex);
        impl.wakeGate->closed = true;
    }
    impl.io->stop();
    for (std::thread& thread : impl.threads) thread.join();
    // A handler under way ends; those not begun are dropped with their
    // connections, and then every other connection: each ends with the
    // last of its operations, while the context they belong to still is.
    impl.workers->stop();
    impl.workers->join();
    impl.workers.reset();
    impl.acceptPause.reset();
    impl.acceptor.reset();
    impl.io.reset();
}

}  // namespace doorlinkd
