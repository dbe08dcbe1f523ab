// ICMP echo sockets on POSIX: a raw socket where the process may have one,
// else an unprivileged ICMP datagram socket (Linux, within
// net.ipv4.ping_group_range), dressed up to look like the raw one.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/icmp.h"

namespace doorlink::platform {
namespace {

constexpr int kHeaderLength = 20;
constexpr size_t kTypeAt = kHeaderLength;
constexpr uint8_t kEchoRequest = 8;
constexpr size_t kIdentifierAt = 4;  // within the ICMP message

int fd_of(SocketHandle socket) { return static_cast<int>(socket); }

// Keeps descriptor 0 free, so that 0 keeps meaning "no socket".
int away_from_zero(int fd) {
    if (fd != 0) return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
    ::close(fd);
    return moved;
}

bool is_datagram_socket(int fd) {
    int type = 0;
    socklen_t len = sizeof type;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_DGRAM;
}

int receive_timeout_ms(int fd) {
    timeval tv{};
    socklen_t len = sizeof tv;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len) != 0) return 1000;
    if (tv.tv_sec == 0 && tv.tv_usec == 0) return -1;  // no time-out: wait for ever
    return static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

// The IPv4 header a raw socket would have delivered in front of the message.
void write_header(uint8_t* header, int messageLength, uint32_t from) {
    std::memset(header, 0, kHeaderLength);
    const int total = kHeaderLength + messageLength;
    header[0] = 0x45;  // version 4, 5 words
    header[2] = static_cast<uint8_t>(total >> 8);
    header[3] = static_cast<uint8_t>(total & 0xFF);
    header[8] = 64;  // time to live
    header[9] = IPPROTO_ICMP;
    std::memcpy(header + 12, &from, 4);
}

}  // namespace

SocketHandle icmp_socket_open(int receiveTimeoutMs) {
    int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return 0;
    fd = away_from_zero(fd);
    if (fd < 0) return 0;
    SocketHandle socket = static_cast<SocketHandle>(fd);
    socket_set_receive_timeout(socket, receiveTimeoutMs);
    return socket;
}

void icmp_socket_close(SocketHandle socket) {
    if (socket != 0) ::close(fd_of(socket));
}

int icmp_send_to(SocketHandle socket, const uint8_t* message, int length, uint32_t address) {
    if (length < 0) return -1;
    const int fd = fd_of(socket);
    if (is_datagram_socket(fd) && length >= static_cast<int>(kIdentifierAt + 2)) {
        // A datagram socket puts its own "port" into the identifier field;
        // bound to the request's identifier, its replies carry that one.
        sockaddr_in local{};
        socklen_t len = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0 && local.sin_port == 0) {
            sockaddr_in bindTo{};
            bindTo.sin_family = AF_INET;
            std::memcpy(&bindTo.sin_port, message + kIdentifierAt, 2);
            ::bind(fd, reinterpret_cast<sockaddr*>(&bindTo), sizeof bindTo);
        }
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    ssize_t n;
    do {
        n = ::sendto(fd, message, static_cast<size_t>(length), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
    } while (n < 0 && errno == EINTR);
    return n < 1 ? -1 : static_cast<int>(n);
}

IcmpReceive icmp_receive_from(SocketHandle socket, uint8_t* buffer, int capacity, int& length,
                              uint32_t& from) {
    const int fd = fd_of(socket);
    if (capacity <= kHeaderLength) return IcmpReceive::Failed;
    const bool datagram = is_datagram_socket(fd);
    const int timeoutMs = receive_timeout_ms(fd);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            waitMs = left.count() < 0 ? 0 : static_cast<int>(left.count());
        }
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, waitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return IcmpReceive::Failed;
        if (ready == 0) return IcmpReceive::TimedOut;

        sockaddr_in sender{};
        socklen_t len = sizeof sender;
        uint8_t* into = datagram ? buffer + kHeaderLength : buffer;
        const size_t room = static_cast<size_t>(datagram ? capacity - kHeaderLength : capacity);
        ssize_t n = ::recvfrom(fd, into, room, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sender), &len);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n < 0) return IcmpReceive::Failed;
        if (datagram) {
            write_header(buffer, static_cast<int>(n), sender.sin_addr.s_addr);
            n += kHeaderLength;
        } else if (n > static_cast<ssize_t>(kTypeAt) && buffer[kTypeAt] == kEchoRequest) {
            // A raw socket sees echo requests too, this call's own among them
            // when the address is local; they answer nothing.
            continue;
        }
        length = static_cast<int>(n);
        from = sender.sin_addr.s_addr;
        return IcmpReceive::Received;
    }
}

}  // namespace doorlink::platform
