// Sockets on POSIX. The descriptor is the handle; descriptor 0 is moved up so
// that 0 keeps meaning "no socket".
#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace doorlink::platform {
namespace {

int fd_of(SocketHandle socket) { return static_cast<int>(socket); }

sockaddr_in to_sockaddr(const Endpoint& e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = e.port;
    a.sin_addr.s_addr = e.address;
    return a;
}

bool receive_timeout_set(int fd, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool non_blocking_set(int fd, bool on) {
    int value = on ? 1 : 0;
    return ::ioctl(fd, FIONBIO, &value) == 0;
}

bool is_non_blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// One recvfrom with the given flags, again when a signal interrupts it; the
// sender goes into from. MSG_TRUNC reports the datagram's real length, so
// that one longer than the buffer is an error, as the controllers' platform
// has it. The length, or -1 with errno set.
ssize_t receive_once(int fd, uint8_t* buffer, int capacity, Endpoint& from, int flags) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ssize_t n;
    do {
        n = ::recvfrom(fd, buffer, static_cast<size_t>(capacity), flags | MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&a), &len);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        from.address = a.sin_addr.s_addr;
        from.port = a.sin_port;
    }
    return n;
}

int datagram_length(ssize_t received, int capacity) {
    return received < 0 || received > capacity ? -1 : static_cast<int>(received);
}

}  // namespace

bool net_startup() { return true; }
void net_cleanup() {}

SocketHandle udp_socket_create() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return 0;
    if (fd == 0) {
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        if (moved < 0) return 0;
        fd = moved;
    }
    return static_cast<SocketHandle>(fd);
}

void socket_close(SocketHandle socket) {
    if (socket != 0) ::close(fd_of(socket));
}

void socket_set_exclusive_address(SocketHandle) {
    // Without SO_REUSEADDR a bound address is exclusive here already.
}

void socket_set_receive_timeout(SocketHandle socket, int milliseconds) {
    receive_timeout_set(fd_of(socket), milliseconds);
}

void socket_set_broadcast(SocketHandle socket) {
    int on = 1;
    ::setsockopt(fd_of(socket), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

bool socket_bind_any(SocketHandle socket, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(fd_of(socket), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

uint16_t socket_local_port(SocketHandle socket) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd_of(socket), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

bool socket_wait(SocketHandle socket, bool forWrite, int timeoutMs) {
    pollfd p{};
    p.fd = fd_of(socket);
    p.events = forWrite ? POLLOUT : POLLIN;
    for (;;) {
        int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        return r > 0 && (p.revents & p.events) != 0;
    }
}

int socket_send_to(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to) {
    if (length < 0) return -1;
    sockaddr_in a = to_sockaddr(to);
    ssize_t n;
    do {
        n = ::sendto(fd_of(socket), data, static_cast<size_t>(length), 0, reinterpret_cast<sockaddr*>(&a),
                     sizeof a);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int socket_receive_from(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from) {
    if (capacity < 0) return -1;
    return datagram_length(receive_once(fd_of(socket), buffer, capacity, from, 0), capacity);
}

int socket_receive_waiting(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from, int waitMs) {
    if (capacity < 0) return -1;
    using Steady = std::chrono::steady_clock;
    int left = waitMs < 0 ? 0 : waitMs;
    const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(left);
    // A datagram can be reported and be gone when read (one whose checksum
    // fails is dropped only then): the rest of the wait goes on.
    while (socket_wait(socket, false, left)) {
        const ssize_t n = receive_once(fd_of(socket), buffer, capacity, from, MSG_DONTWAIT);
        if (n >= 0 || !would_block(errno)) return datagram_length(n, capacity);
        left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count());
        if (left <= 0) break;
    }
    return -1;
}

int socket_send_waiting(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to,
                        int waitMs) {
    if (length < 0) return -1;
    const sockaddr_in a = to_sockaddr(to);
    // A datagram socket is writable nearly always: try at once, and wait only
    // when the send would block.
    ssize_t n;
    do {
        n = ::sendto(fd_of(socket), data, static_cast<size_t>(length), MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr*>(&a), sizeof a);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) return static_cast<int>(n);
    if (!would_block(errno)) return -1;
    if (!socket_wait(socket, true, waitMs)) return -1;
    return socket_send_to(socket, data, length, to);
}

bool socket_send_copies(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to, int copies,
                        int waitMs) {
    if (length < 1 || copies < 1) return copies < 1;
    // Up to this many copies leave in one call; the rest (and any the socket
    // could not take at once) one by one.
    constexpr int kBatch = 8;
    sockaddr_in a = to_sockaddr(to);
    iovec part{const_cast<uint8_t*>(data), static_cast<size_t>(length)};
    mmsghdr messages[kBatch] = {};
    for (mmsghdr& m : messages) {
        m.msg_hdr.msg_name = &a;
        m.msg_hdr.msg_namelen = sizeof a;
        m.msg_hdr.msg_iov = &part;
        m.msg_hdr.msg_iovlen = 1;
    }
    int sent;
    do {
        sent = ::sendmmsg(fd_of(socket), messages, static_cast<unsigned>(copies < kBatch ? copies : kBatch),
                          MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) sent = 0;
    for (int i = sent; i < copies; ++i) {
        if (socket_send_waiting(socket, data, length, to, waitMs) < 1) return false;
    }
    return true;
}

bool socket_set_own_receive_timeout(SocketHandle socket, int, int readinessWaitMs) {
    // A receive that blocks for at most the readiness wait is that wait and
    // the receive in one call. Where the option is refused, the socket does
    // not block at all, and socket_receive_bounded waits with poll instead.
    const int fd = fd_of(socket);
    return receive_timeout_set(fd, readinessWaitMs) || non_blocking_set(fd, true);
}

int socket_receive_bounded(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from,
                           int readinessWaitMs) {
    if (capacity < 0) return -1;
    const int fd = fd_of(socket);
    const ssize_t n = receive_once(fd, buffer, capacity, from, 0);
    // Would block: the time-out ran out, or a socket without one has nothing
    // yet. Only the second waits; the common path stays one call.
    if (n < 0 && would_block(errno) && is_non_blocking(fd)) {
        return socket_receive_waiting(socket, buffer, capacity, from, readinessWaitMs);
    }
    return datagram_length(n, capacity);
}

void socket_hand_over(SocketHandle socket, int receiveTimeoutMs) {
    // The host gets a blocking socket, whatever its opening had to fall back to.
    socket_set_receive_timeout(socket, receiveTimeoutMs);
    non_blocking_set(fd_of(socket), false);
}

uint32_t ipv4_from_text(const char* text) {
    if (!text) return INADDR_NONE;
    in_addr a{};
    // inet_aton reads the same forms as inet_addr (octal, hex, fewer parts).
    if (::inet_aton(text, &a) == 0) return INADDR_NONE;
    return a.s_addr;
}

std::string ipv4_to_text(uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = address;
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool local_ipv4_toward(const Endpoint& to, uint32_t& address) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = to.address;
    remote.sin_port = to.port;
    sockaddr_in local{};
    socklen_t len = sizeof local;
    // Connecting a UDP socket only chooses the route and the source address.
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0 &&
                    local.sin_addr.s_addr != INADDR_ANY;
    ::close(fd);
    if (ok) address = local.sin_addr.s_addr;
    return ok;
}

}  // namespace doorlink::platform
