#include "doorsim/simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <ostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "doorsim/capture.h"
#include "errno_text.h"
#include "handlers.h"

namespace doorsim {

struct ControllerSlot;

namespace {

// A UDP socket bound to address:9000, or -1 with errno set. With reuse it
// may share the port with the broadcast listener on the wildcard address.
int bind_controller_socket(const std::string& address, bool reuse = false) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kControllerPort);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        errno = EINVAL;
        return -1;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (reuse) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// Loopback addresses to try, from a start that differs between processes so
// that tests running in parallel rarely collide.
std::vector<std::string> loopback_candidates() {
    static std::atomic<unsigned> calls{0};
    unsigned pid = static_cast<unsigned>(::getpid());
    unsigned second = 100 + pid % 100;
    unsigned third = (pid / 100 + calls.fetch_add(1) * 7) % 250;
    std::vector<std::string> out;
    for (unsigned step = 0; step < 4; ++step) {
        for (unsigned last = 2; last < 255; ++last) {
            out.push_back("127." + std::to_string(second) + "." + std::to_string((third + step) % 250) + "." +
                          std::to_string(last));
        }
    }
    return out;
}

int bind_free_loopback(std::string& address) {
    // A client bound to the wildcard address at port 9000 blocks every
    // controller address for a moment; keep trying for a while.
    for (int round = 0; round < 100; ++round) {
        for (const std::string& candidate : loopback_candidates()) {
            int fd = bind_controller_socket(candidate);
            if (fd >= 0) {
                address = candidate;
                return fd;
            }
            if (errno != EADDRINUSE) return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

// A worker thread: the controllers it serves wait in its epoll set, and the
// answers it holds back (delay and reorder faults) in its pending list.
struct Worker {
    struct Pending {
        Clock::time_point due;
        ControllerSlot* slot;
        bool alias;  // from the controller's alias socket rather than its own
        sockaddr_in to;
        Bytes bytes;
    };

    int epoll = -1;
    int wake = -1;  // an eventfd in the epoll set, with a null pointer
    std::thread thread;
    std::mutex pendingLock;
    std::vector<Pending> pending;

    Worker() {
        epoll = ::epoll_create1(EPOLL_CLOEXEC);
        wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.ptr = nullptr;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, wake, &e);
    }
    ~Worker() {
        if (wake >= 0) ::close(wake);
        if (epoll >= 0) ::close(epoll);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void wake_up() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
    }
    // What arrives at fd is read when the thread sees source ready.
    void watch(int fd, void* source) {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.ptr = source;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &e);
    }
    // Until the first held-back answer is due, 200 ms at most.
    int timeout_ms() {
        std::lock_guard<std::mutex> guard(pendingLock);
        int timeout = 200;
        const auto now = Clock::now();
        for (const Pending& p : pending) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(p.due - now).count();
            timeout = std::clamp<int>(static_cast<int>(ms), 0, timeout);
        }
        return timeout;
    }
    std::vector<Pending> take_due() {
        std::lock_guard<std::mutex> guard(pendingLock);
        std::vector<Pending> due;
        if (pending.empty()) return due;
        const auto now = Clock::now();
        std::vector<Pending> later;
        for (Pending& p : pending) (p.due <= now ? due : later).push_back(std::move(p));
        pending = std::move(later);
        return due;
    }
};

// Where a datagram arrives: a controller's own socket or its alias socket;
// without a controller, the broadcast listener.
struct Source {
    ControllerSlot* slot = nullptr;
    bool alias = false;
};

// Datagrams read with one call: as many as are waiting, up to kCount.
class Batch {
public:
    static constexpr unsigned kCount = 8;
    static constexpr size_t kSize = 65536;

    Batch() : buffer_(kCount * kSize) {}
    int receive(int fd) {
        for (unsigned k = 0; k < kCount; ++k) {
            iov_[k] = {buffer_.data() + k * kSize, kSize};
            headers_[k] = {};
            headers_[k].msg_hdr.msg_iov = &iov_[k];
            headers_[k].msg_hdr.msg_iovlen = 1;
            headers_[k].msg_hdr.msg_name = &from_[k];
            headers_[k].msg_hdr.msg_namelen = sizeof from_[k];
        }
        return ::recvmmsg(fd, headers_, kCount, MSG_DONTWAIT, nullptr);
    }
    Bytes bytes(int k) const {
        const uint8_t* start = buffer_.data() + static_cast<size_t>(k) * kSize;
        return Bytes(start, start + headers_[k].msg_len);
    }
    const sockaddr_in& from(int k) const { return from_[k]; }

private:
    std::vector<uint8_t> buffer_;
    iovec iov_[kCount];
    mmsghdr headers_[kCount];
    sockaddr_in from_[kCount];
};

}  // namespace

// One controller. Its lock guards everything in it; the thread that serves
// it holds the lock while it handles a datagram.
struct ControllerSlot {
    mutable std::mutex lock;
    mutable std::condition_variable receivedSignal;
    ControllerState state;
    Faults faults;
    Script script;
    std::vector<Datagram> received;
    int fd = -1;
    std::string bound;  // the address fd is bound to
    int aliasFd = -1;
    std::string aliasAddress;
    // A fixed seed: a run's faults repeat in the next.
    // NOLINTNEXTLINE(cert-msc32-c,cert-msc51-cpp,bugprone-random-generator-seed)
    std::mt19937 random{12345};
    // What it sent (answers and pushes), for the replay fault, and the
    // requests it answered itself.
    std::vector<Bytes> sentBefore;
    int answered = 0;
    static constexpr size_t kSentRemembered = 4096;
    void remember_sent(const Bytes& bytes) {
        if (sentBefore.size() < kSentRemembered) sentBefore.push_back(bytes);
    }
    bool replaying() const {
        return faults.replayAfter >= 0 && answered >= faults.replayAfter && !sentBefore.empty();
    }
    const Bytes& replayed() {
        return sentBefore[std::uniform_int_distribution<size_t>(0, sentBefore.size() - 1)(random)];
    }
    std::string stateDirectory;  // where its card list is kept, if anywhere
    Worker* worker = nullptr;    // the thread that serves it
    Source own{this, false};
    Source alias{this, true};

    std::string cards_path() const { return stateDirectory + "/cards-" + mac_to_text(state.mac) + ".bin"; }
    void load_cards() {
        if (!stateDirectory.empty()) load_card_list(state.cards, cards_path());
    }
    void save_cards() {
        state.cards.saveWanted = false;
        if (!stateDirectory.empty()) save_card_list(state.cards, cards_path());
    }
};

// Controllers are served by a thread per core, each controller always by the
// same thread, so that it handles its datagrams in the order they came.
// Locks are taken in this order: the simulator's, a controller's, a worker's
// pending list, the log or the capture file.
struct Simulator::Impl {
    mutable std::mutex lock;  // the list of controllers, the state directory, start and stop
    std::vector<std::unique_ptr<ControllerSlot>> slots;
    std::vector<std::unique_ptr<Worker>> workers;
    std::atomic<bool> running{false};
    std::string stateDirectory;
    std::atomic<int> broadcastFd{-1};             // wildcard:9000, only inside a network namespace of a test
    std::atomic<bool> pushBeyondLoopback{false};  // the same
    Source broadcastSource;
    std::mutex logLock;
    std::atomic<std::ostream*> log{nullptr};
    PacketCapture capture;
    std::atomic<bool> capturing{false};

    Impl() {
        const unsigned cores = std::thread::hardware_concurrency();
        const unsigned count = std::clamp(cores, 1u, 8u);
        for (unsigned i = 0; i < count; ++i) workers.push_back(std::make_unique<Worker>());
    }
    ~Impl() {
        if (broadcastFd >= 0) ::close(broadcastFd);
        for (auto& s : slots) {
            if (s->fd >= 0) ::close(s->fd);
            if (s->aliasFd >= 0) ::close(s->aliasFd);
        }
    }

    ControllerSlot& slot(int id) const {
        std::lock_guard<std::mutex> guard(lock);
        if (id < 0 || static_cast<size_t>(id) >= slots.size()) throw std::out_of_range("controller id");
        return *slots[static_cast<size_t>(id)];
    }

    std::vector<ControllerSlot*> all_slots() const {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<ControllerSlot*> out;
        out.reserve(slots.size());
        for (auto& s : slots) out.push_back(s.get());
        return out;
    }

    void log_line(const char* direction, const std::string& self, const sockaddr_in& peer,
                  const Bytes& bytes) {
        if (!log.load()) return;
        char peerText[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof peerText);
        std::ostringstream line;
        line << self << ' ' << direction << ' ' << peerText << ':' << ntohs(peer.sin_port) << " ["
             << bytes.size() << "] " << hex(bytes) << '\n';
        std::lock_guard<std::mutex> guard(logLock);
        if (std::ostream* out = log.load()) *out << line.str() << std::flush;
    }

    // Into the capture file, when there is one: a datagram between a
    // controller address (port 9000) and a peer, in either direction.
    void capture_datagram(bool received, const std::string& self, const sockaddr_in& peer,
                          const Bytes& bytes) {
        if (!capturing.load()) return;
        in_addr own{};
        inet_pton(AF_INET, self.c_str(), &own);
        const uint16_t port = htons(kControllerPort);
        if (received) capture.record(peer.sin_addr.s_addr, peer.sin_port, own.s_addr, port, bytes);
        else capture.record(own.s_addr, port, peer.sin_addr.s_addr, peer.sin_port, bytes);
    }

    void send_now(int fd, const sockaddr_in& to, const Bytes& bytes, const std::string& self) {
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        log_line("->", self, to, bytes);
        capture_datagram(false, self, to, bytes);
    }

    int alias_socket(ControllerSlot& s) {
        if (s.aliasFd >= 0 && s.aliasAddress == s.faults.replyFrom) return s.aliasFd;
        if (s.aliasFd >= 0) ::close(s.aliasFd);
        s.aliasFd = bind_controller_socket(s.faults.replyFrom);
        s.aliasAddress = s.faults.replyFrom;
        if (s.aliasFd >= 0) s.worker->watch(s.aliasFd, &s.alias);
        return s.aliasFd;
    }

    // Everything that happens to one datagram a controller receives; its
    // lock is held.
    void handle(ControllerSlot& s, int fd, const sockaddr_in& from, Bytes bytes) {
        log_line("<-", s.state.address, from, bytes);
        Datagram d;
        d.bytes = std::move(bytes);
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        d.from = text;
        d.fromPort = ntohs(from.sin_port);
        d.to = fd == s.aliasFd ? s.aliasAddress : s.state.address;
        d.at = Clock::now();
        capture_datagram(true, d.to, from, d.bytes);
        s.received.push_back(d);
        s.receivedSignal.notify_all();

        Faults& f = s.faults;
        if (f.silent) return;
        if (f.ignoreNext > 0) {
            --f.ignoreNext;
            return;
        }
        if (chance(s, f.dropRate)) return;
        // A copy the network made of the request is handled like any other.
        const int times = chance(s, f.duplicateRate) ? 2 : 1;
        for (int i = 0; i < times; ++i) answer(s, fd, from, d);
    }

    static bool chance(ControllerSlot& s, double rate) {
        return rate > 0 && std::uniform_real_distribution<double>(0, 1)(s.random) < rate;
    }

    void answer(ControllerSlot& s, int fd, const sockaddr_in& from, const Datagram& d) {
        std::vector<Bytes> replies = s.replaying() ? std::vector<Bytes>{s.replayed()} : own_answers(s, d);
        send_replies(s, fd, from, replies);
        if (s.state.address != s.bound) relocate(s);
    }

    // What the controller answers itself (or its script), remembered for the
    // replay fault.
    std::vector<Bytes> own_answers(ControllerSlot& s, const Datagram& d) {
        std::optional<std::vector<Bytes>> scripted;
        if (s.script) scripted = s.script(d, s.state);
        std::vector<Bytes> replies = scripted ? std::move(*scripted) : dispatch(d, s.state);
        if (s.state.cards.saveWanted) s.save_cards();
        if (!replies.empty()) ++s.answered;
        for (const Bytes& reply : replies) s.remember_sent(reply);
        return replies;
    }

    void send_replies(ControllerSlot& s, int fd, const sockaddr_in& from, std::vector<Bytes>& replies) {
        Faults& f = s.faults;
        if (replies.empty()) return;
        if (f.wrongRepliesFirst > 0) {
            --f.wrongRepliesFirst;
            replies = {f.wrongReply};
        }
        int out = fd;
        if (!f.replyFrom.empty()) {
            int alias = alias_socket(s);
            if (alias >= 0) out = alias;
        }
        for (const Bytes& reply : replies) {
            for (int copy = 0; copy <= f.duplicates; ++copy) emit(s, out, from, reply, f.delayMs);
        }
    }

    // One datagram on its way out: held back, repeated or lost as the faults say.
    void emit(ControllerSlot& s, int fd, const sockaddr_in& to, const Bytes& bytes, int delayMs) {
        const Faults& f = s.faults;
        const bool alias = fd == s.aliasFd;
        const std::string& self = alias ? s.aliasAddress : s.state.address;
        const int times = chance(s, f.duplicateRate) ? 2 : 1;
        for (int i = 0; i < times; ++i) {
            const int hold = delayMs + (chance(s, f.reorderRate) ? f.reorderMs : 0);
            if (hold > 0) {
                {
                    std::lock_guard<std::mutex> guard(s.worker->pendingLock);
                    s.worker->pending.push_back(
                        {Clock::now() + std::chrono::milliseconds(hold), &s, alias, to, bytes});
                }
                s.worker->wake_up();
            } else {
                send_now(fd, to, bytes, self);
            }
        }
    }

    // A controller whose address was changed moves its socket there, once it
    // has answered from the old one; where it cannot bind (an address beyond
    // loopback outside a namespace of a test, or one in use), it stays.
    void relocate(ControllerSlot& s) {
        const std::string target = s.state.address;
        in_addr a{};
        const bool inNamespace = broadcastFd.load() >= 0;
        const bool valid = inet_pton(AF_INET, target.c_str(), &a) == 1;
        const bool allowed = valid && ((ntohl(a.s_addr) >> 24) == 127 || inNamespace);
        int fd = allowed ? bind_controller_socket(target, inNamespace) : -1;
        if (fd < 0) {
            s.state.address = s.bound;
            return;
        }
        // Answers held back go out from wherever the controller is when they are due.
        s.worker->watch(fd, &s.own);
        ::close(s.fd);  // which also takes it out of the epoll set
        s.fd = fd;
        s.bound = target;
    }

    static std::vector<Bytes> dispatch(const Datagram& d, ControllerState& state) {
        Responder responder(d);
        for (Handler h : handlers()) {
            if (h(d.bytes, state, responder)) break;
        }
        return std::move(responder.replies());
    }

    void serve(Worker& w) {
        ::pthread_setname_np(::pthread_self(), "doorsim");
        Batch batch;
        epoll_event events[64];
        while (running.load()) {
            const int ready = ::epoll_wait(w.epoll, events, 64, w.timeout_ms());
            for (int i = 0; i < ready; ++i) {
                auto* source = static_cast<Source*>(events[i].data.ptr);
                if (!source) {
                    uint64_t count;
                    [[maybe_unused]] ssize_t n = ::read(w.wake, &count, sizeof count);
                } else if (source->slot) {
                    serve_controller(*source, batch);
                } else {
                    serve_broadcasts(batch);
                }
            }
            send_due(w);
        }
    }

    // What is waiting at one controller's socket. The epoll set is level
    // triggered: whatever one batch leaves is reported again.
    void serve_controller(const Source& source, Batch& batch) {
        ControllerSlot& s = *source.slot;
        std::lock_guard<std::mutex> guard(s.lock);
        auto current = [&] { return source.alias ? s.aliasFd : s.fd; };
        const int fd = current();
        if (fd < 0) return;
        const int count = batch.receive(fd);
        for (int k = 0; k < count; ++k) {
            handle(s, fd, batch.from(k), batch.bytes(k));
            // A controller that moved no longer hears what reached its old socket.
            if (current() != fd) break;
        }
    }

    // Heard on the broadcast listener: every controller hears it and answers
    // from its own address.
    void serve_broadcasts(Batch& batch) {
        const int count = batch.receive(broadcastFd.load());
        for (int k = 0; k < count; ++k) {
            for (ControllerSlot* s : all_slots()) {
                std::lock_guard<std::mutex> guard(s->lock);
                handle(*s, s->fd, batch.from(k), batch.bytes(k));
            }
        }
    }

    void send_due(Worker& w) {
        for (const Worker::Pending& p : w.take_due()) {
            ControllerSlot& s = *p.slot;
            std::lock_guard<std::mutex> guard(s.lock);
            send_now(p.alias ? s.aliasFd : s.fd, p.to, p.bytes, p.alias ? s.aliasAddress : s.state.address);
        }
    }
};

Simulator::Simulator() : impl_(std::make_unique<Impl>()) {}

Simulator::~Simulator() { stop(); }

int Simulator::add_controller(const ControllerConfig& config) {
    std::string address = config.address;
    const bool reuse = impl_->broadcastFd.load() >= 0;
    int fd = address.empty() ? bind_free_loopback(address) : bind_controller_socket(address, reuse);
    if (fd < 0) {
        throw std::runtime_error("cannot bind " +
                                 (address.empty() ? std::string("a loopback address") : address) +
                                 ":9000: " + errno_text(errno));
    }
    auto slot = std::make_unique<ControllerSlot>();
    slot->fd = fd;
    slot->bound = address;
    slot->state.address = address;
    slot->state.mac = config.mac;
    slot->state.deviceNumber = config.deviceNumber;
    std::lock_guard<std::mutex> guard(impl_->lock);
    const size_t id = impl_->slots.size();
    slot->worker = impl_->workers[id % impl_->workers.size()].get();
    slot->stateDirectory = impl_->stateDirectory;
    slot->load_cards();
    slot->worker->watch(fd, &slot->own);
    impl_->slots.push_back(std::move(slot));
    return static_cast<int>(id);
}

void Simulator::start() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->running) return;
    impl_->running = true;
    for (auto& w : impl_->workers) {
        Worker* worker = w.get();
        w->thread = std::thread([this, worker] { impl_->serve(*worker); });
    }
}

void Simulator::stop() {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (!impl_->running) return;
        impl_->running = false;
        for (auto& w : impl_->workers) w->wake_up();
    }
    for (auto& w : impl_->workers) w->thread.join();
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (!impl_->stateDirectory.empty()) {
        for (auto& s : impl_->slots) {
            std::lock_guard<std::mutex> slotGuard(s->lock);
            s->save_cards();
        }
    }
}

void Simulator::set_state_directory(const std::string& directory) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->stateDirectory = directory;
    for (auto& s : impl_->slots) {
        std::lock_guard<std::mutex> slotGuard(s->lock);
        s->stateDirectory = directory;
        s->load_cards();
    }
}

void Simulator::set_log(std::ostream* log) {
    std::lock_guard<std::mutex> guard(impl_->logLock);
    impl_->log = log;
}

bool Simulator::set_capture(const std::string& path) {
    impl_->capturing = false;
    if (path.empty()) {
        impl_->capture.close();
        return true;
    }
    const bool ok = impl_->capture.open(path);
    impl_->capturing = ok;
    return ok;
}

size_t Simulator::controller_count() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slots.size();
}

std::string Simulator::address(int id) const {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    return s.state.address;
}

Mac Simulator::mac(int id) const {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    return s.state.mac;
}

std::string Simulator::mac_text(int id) const { return mac_to_text(mac(id)); }

std::vector<Datagram> Simulator::received(int id) const {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    return s.received;
}

size_t Simulator::received_count(int id) const {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    return s.received.size();
}

void Simulator::clear_received(int id) {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    s.received.clear();
}

bool Simulator::wait_received(int id, size_t count, std::chrono::milliseconds timeout) const {
    ControllerSlot& s = impl_->slot(id);
    std::unique_lock<std::mutex> guard(s.lock);
    return s.receivedSignal.wait_for(guard, timeout, [&] { return s.received.size() >= count; });
}

void Simulator::set_faults(int id, const Faults& faults) {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    s.faults = faults;
}

Faults Simulator::faults(int id) const {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    return s.faults;
}

void Simulator::set_script(int id, Script script) {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    s.script = std::move(script);
}

bool Simulator::push(int id, const Bytes& bytes) {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.state.monitor.set) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(s.state.monitor.port);
    if (inet_pton(AF_INET, s.state.monitor.address.c_str(), &to.sin_addr) != 1) return false;
    // A simulator in the host's own namespace never sends beyond loopback.
    if ((ntohl(to.sin_addr.s_addr) >> 24) != 127 && !impl_->pushBeyondLoopback.load()) return false;
    s.remember_sent(bytes);
    if (!Impl::chance(s, s.faults.pushLossRate)) impl_->emit(s, s.fd, to, bytes, 0);
    return true;
}

bool Simulator::listen_for_broadcasts() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->broadcastFd.load() >= 0) return true;
    int on = 1;
    // The controllers' sockets share port 9000 with the wildcard listener;
    // a datagram to one controller's address still goes to that controller.
    for (auto& s : impl_->slots) {
        std::lock_guard<std::mutex> slotGuard(s->lock);
        ::setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    int fd = bind_controller_socket("0.0.0.0", true);
    if (fd < 0) return false;
    impl_->broadcastFd = fd;
    impl_->pushBeyondLoopback = true;
    impl_->workers.front()->watch(fd, &impl_->broadcastSource);
    return true;
}

ControllerState Simulator::state(int id) const {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    return s.state;
}

void Simulator::update_state(int id, const std::function<void(ControllerState&)>& change) {
    ControllerSlot& s = impl_->slot(id);
    std::lock_guard<std::mutex> guard(s.lock);
    change(s.state);
    if (s.state.address != s.bound) impl_->relocate(s);
}

std::string find_free_loopback_address() {
    std::string address;
    int fd = bind_free_loopback(address);
    if (fd < 0) return {};
    ::close(fd);
    return address;
}

std::string hex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string mac_to_text(const Mac& mac) {
    char text[13];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

bool mac_from_text(const std::string& text, Mac& mac) {
    if (text.size() != 12) return false;
    Mac out{};
    for (size_t i = 0; i < 12; ++i) {
        char c = text[i];
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (v < 0) return false;
        out[i / 2] = static_cast<uint8_t>(out[i / 2] * 16 + v);
    }
    mac = out;
    return true;
}

}  // namespace doorsim
