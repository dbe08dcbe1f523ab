#include "doorsim/simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <ostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "handlers.h"

namespace doorsim {
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
            out.push_back("127." + std::to_string(second) + "." +
                          std::to_string((third + step) % 250) + "." + std::to_string(last));
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

struct Pending {
    Clock::time_point due;
    int fd;
    sockaddr_in to;
    Bytes bytes;
};

}  // namespace

struct ControllerSlot {
    ControllerState state;
    Faults faults;
    Script script;
    std::vector<Datagram> received;
    int fd = -1;
    std::string bound;  // the address fd is bound to
    int aliasFd = -1;
    std::string aliasAddress;
    std::mt19937 random{12345};
};

struct Simulator::Impl {
    mutable std::mutex lock;
    mutable std::condition_variable receivedSignal;
    std::vector<std::unique_ptr<ControllerSlot>> slots;
    std::vector<Pending> pending;
    std::ostream* log = nullptr;
    std::thread thread;
    int wake = -1;
    bool running = false;
    bool pushBeyondLoopback = false;  // only inside a network namespace of a test
    std::string stateDirectory;       // where card lists are kept, if anywhere

    std::string cards_path(const ControllerSlot& s) const {
        return stateDirectory + "/cards-" + mac_to_text(s.state.mac) + ".bin";
    }
    void load_cards(ControllerSlot& s) {
        if (!stateDirectory.empty()) load_card_list(s.state.cards, cards_path(s));
    }
    void save_cards(ControllerSlot& s) {
        s.state.cards.saveWanted = false;
        if (!stateDirectory.empty()) save_card_list(s.state.cards, cards_path(s));
    }
    int broadcastFd = -1;             // wildcard:9000, only inside such a namespace

    Impl() { wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }
    ~Impl() {
        if (wake >= 0) ::close(wake);
        if (broadcastFd >= 0) ::close(broadcastFd);
        for (auto& s : slots) {
            if (s->fd >= 0) ::close(s->fd);
            if (s->aliasFd >= 0) ::close(s->aliasFd);
        }
    }

    ControllerSlot& slot(int id) const {
        if (id < 0 || static_cast<size_t>(id) >= slots.size()) throw std::out_of_range("controller id");
        return *slots[static_cast<size_t>(id)];
    }

    void wake_loop() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
    }

    void log_line(const char* direction, const std::string& self, const sockaddr_in& peer,
                  const Bytes& bytes) {
        if (!log) return;
        char peerText[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof peerText);
        std::ostringstream line;
        line << self << ' ' << direction << ' ' << peerText << ':' << ntohs(peer.sin_port) << " ["
             << bytes.size() << "] " << hex(bytes) << '\n';
        *log << line.str() << std::flush;
    }

    void send_now(int fd, const sockaddr_in& to, const Bytes& bytes, const std::string& self) {
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        log_line("->", self, to, bytes);
    }

    int alias_socket(ControllerSlot& s) {
        if (s.aliasFd >= 0 && s.aliasAddress == s.faults.replyFrom) return s.aliasFd;
        if (s.aliasFd >= 0) ::close(s.aliasFd);
        s.aliasFd = bind_controller_socket(s.faults.replyFrom);
        s.aliasAddress = s.faults.replyFrom;
        return s.aliasFd;
    }

    // Everything that happens to one datagram a controller receives.
    void handle(ControllerSlot& s, int fd, const sockaddr_in& from, Bytes bytes) {
        std::lock_guard<std::mutex> guard(lock);
        log_line("<-", s.state.address, from, bytes);
        Datagram d;
        d.bytes = bytes;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        d.from = text;
        d.fromPort = ntohs(from.sin_port);
        d.to = fd == s.aliasFd ? s.aliasAddress : s.state.address;
        d.at = Clock::now();
        s.received.push_back(d);
        receivedSignal.notify_all();

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

        std::vector<Bytes> replies;
        if (s.script) {
            if (auto scripted = s.script(d, s.state)) replies = std::move(*scripted);
            else replies = dispatch(d, s.state);
        } else {
            replies = dispatch(d, s.state);
        }
        if (s.state.cards.saveWanted) save_cards(s);
        send_replies(s, fd, from, replies);
        if (s.state.address != s.bound) relocate(s);
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
        const std::string& self = out == s.aliasFd ? s.aliasAddress : s.state.address;
        for (const Bytes& reply : replies) {
            for (int copy = 0; copy <= f.duplicates; ++copy) emit(s, out, from, reply, self, f.delayMs);
        }
    }

    // One datagram on its way out: held back, repeated or lost as the faults say.
    void emit(ControllerSlot& s, int fd, const sockaddr_in& to, const Bytes& bytes, const std::string& self,
              int delayMs) {
        const Faults& f = s.faults;
        const int times = chance(s, f.duplicateRate) ? 2 : 1;
        for (int i = 0; i < times; ++i) {
            const int hold = delayMs + (chance(s, f.reorderRate) ? f.reorderMs : 0);
            if (hold > 0) {
                pending.push_back({Clock::now() + std::chrono::milliseconds(hold), fd, to, bytes});
                wake_loop();
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
        const bool valid = inet_pton(AF_INET, target.c_str(), &a) == 1;
        const bool allowed = valid && ((ntohl(a.s_addr) >> 24) == 127 || broadcastFd >= 0);
        int fd = allowed ? bind_controller_socket(target, broadcastFd >= 0) : -1;
        if (fd < 0) {
            s.state.address = s.bound;
            return;
        }
        for (Pending& p : pending) {
            if (p.fd == s.fd) p.fd = fd;
        }
        ::close(s.fd);
        s.fd = fd;
        s.bound = target;
        wake_loop();
    }

    static std::vector<Bytes> dispatch(const Datagram& d, ControllerState& state) {
        Responder responder(d);
        for (Handler h : handlers()) {
            if (h(d.bytes, state, responder)) break;
        }
        return std::move(responder.replies());
    }

    void serve() {
        std::vector<uint8_t> buffer(65536);
        for (;;) {
            std::vector<pollfd> fds;
            std::vector<ControllerSlot*> owners;
            int timeoutMs = 200;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (!running) return;
                fds.push_back({wake, POLLIN, 0});
                owners.push_back(nullptr);
                if (broadcastFd >= 0) {
                    fds.push_back({broadcastFd, POLLIN, 0});
                    owners.push_back(nullptr);
                }
                for (auto& s : slots) {
                    fds.push_back({s->fd, POLLIN, 0});
                    owners.push_back(s.get());
                    if (s->aliasFd >= 0) {
                        fds.push_back({s->aliasFd, POLLIN, 0});
                        owners.push_back(s.get());
                    }
                }
                auto now = Clock::now();
                for (const Pending& p : pending) {
                    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(p.due - now).count();
                    timeoutMs = std::clamp<int>(static_cast<int>(ms), 0, timeoutMs);
                }
            }
            ::poll(fds.data(), fds.size(), timeoutMs);
            if (fds[0].revents & POLLIN) {
                uint64_t count;
                [[maybe_unused]] ssize_t n = ::read(wake, &count, sizeof count);
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & POLLIN)) continue;
                for (;;) {
                    sockaddr_in from{};
                    socklen_t len = sizeof from;
                    ssize_t n = ::recvfrom(fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr*>(&from), &len);
                    if (n < 0) break;
                    Bytes bytes(buffer.begin(), buffer.begin() + n);
                    if (owners[i]) {
                        handle(*owners[i], fds[i].fd, from, std::move(bytes));
                    } else {
                        // Heard on the broadcast listener: every controller hears it
                        // and answers from its own address.
                        for (ControllerSlot* s : all_slots()) handle(*s, s->fd, from, bytes);
                    }
                }
            }
            send_due();
        }
    }

    std::vector<ControllerSlot*> all_slots() {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<ControllerSlot*> out;
        for (auto& s : slots) out.push_back(s.get());
        return out;
    }

    void send_due() {
        std::lock_guard<std::mutex> guard(lock);
        auto now = Clock::now();
        std::vector<Pending> later;
        for (Pending& p : pending) {
            if (p.due <= now) {
                std::string self;
                for (auto& s : slots) {
                    if (s->fd == p.fd) self = s->state.address;
                    if (s->aliasFd == p.fd) self = s->aliasAddress;
                }
                send_now(p.fd, p.to, p.bytes, self);
            } else {
                later.push_back(std::move(p));
            }
        }
        pending = std::move(later);
    }
};

Simulator::Simulator() : impl_(std::make_unique<Impl>()) {}

Simulator::~Simulator() { stop(); }

int Simulator::add_controller(ControllerConfig config) {
    std::string address = config.address;
    const bool reuse = impl_->broadcastFd >= 0;
    int fd = address.empty() ? bind_free_loopback(address) : bind_controller_socket(address, reuse);
    if (fd < 0) {
        throw std::runtime_error("cannot bind " + (address.empty() ? std::string("a loopback address") : address) +
                                 ":9000: " + std::strerror(errno));
    }
    auto slot = std::make_unique<ControllerSlot>();
    slot->fd = fd;
    slot->bound = address;
    slot->state.address = address;
    slot->state.mac = config.mac;
    slot->state.deviceNumber = config.deviceNumber;
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->load_cards(*slot);
    impl_->slots.push_back(std::move(slot));
    impl_->wake_loop();
    return static_cast<int>(impl_->slots.size() - 1);
}

void Simulator::start() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->running) return;
    impl_->running = true;
    impl_->thread = std::thread([this] { impl_->serve(); });
}

void Simulator::stop() {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (!impl_->running) return;
        impl_->running = false;
        impl_->wake_loop();
    }
    impl_->thread.join();
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (!impl_->stateDirectory.empty()) {
        for (auto& s : impl_->slots) impl_->save_cards(*s);
    }
}

void Simulator::set_state_directory(const std::string& directory) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->stateDirectory = directory;
    for (auto& s : impl_->slots) impl_->load_cards(*s);
}

void Simulator::set_log(std::ostream* log) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->log = log;
}

size_t Simulator::controller_count() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slots.size();
}

std::string Simulator::address(int id) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slot(id).state.address;
}

Mac Simulator::mac(int id) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slot(id).state.mac;
}

std::string Simulator::mac_text(int id) const { return mac_to_text(mac(id)); }

std::vector<Datagram> Simulator::received(int id) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slot(id).received;
}

size_t Simulator::received_count(int id) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slot(id).received.size();
}

void Simulator::clear_received(int id) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->slot(id).received.clear();
}

bool Simulator::wait_received(int id, size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(impl_->lock);
    return impl_->receivedSignal.wait_for(guard, timeout, [&] {
        return impl_->slot(id).received.size() >= count;
    });
}

void Simulator::set_faults(int id, const Faults& faults) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->slot(id).faults = faults;
    impl_->wake_loop();
}

Faults Simulator::faults(int id) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slot(id).faults;
}

void Simulator::set_script(int id, Script script) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->slot(id).script = std::move(script);
}

bool Simulator::push(int id, const Bytes& bytes) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    ControllerSlot& s = impl_->slot(id);
    if (!s.state.monitor.set) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(s.state.monitor.port);
    if (inet_pton(AF_INET, s.state.monitor.address.c_str(), &to.sin_addr) != 1) return false;
    // A simulator in the host's own namespace never sends beyond loopback.
    if ((ntohl(to.sin_addr.s_addr) >> 24) != 127 && !impl_->pushBeyondLoopback) return false;
    if (!Impl::chance(s, s.faults.pushLossRate)) impl_->emit(s, s.fd, to, bytes, s.state.address, 0);
    return true;
}

bool Simulator::listen_for_broadcasts() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->broadcastFd >= 0) return true;
    int on = 1;
    // The controllers' sockets share port 9000 with the wildcard listener;
    // a datagram to one controller's address still goes to that controller.
    for (auto& s : impl_->slots) ::setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int fd = bind_controller_socket("0.0.0.0", true);
    if (fd < 0) return false;
    impl_->broadcastFd = fd;
    impl_->pushBeyondLoopback = true;
    impl_->wake_loop();
    return true;
}

ControllerState Simulator::state(int id) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slot(id).state;
}

void Simulator::update_state(int id, const std::function<void(ControllerState&)>& change) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    ControllerSlot& s = impl_->slot(id);
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
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return text;
}

bool mac_from_text(const std::string& text, Mac& mac) {
    if (text.size() != 12) return false;
    Mac out{};
    for (size_t i = 0; i < 12; ++i) {
        char c = text[i];
        int v = c >= '0' && c <= '9' ? c - '0'
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
