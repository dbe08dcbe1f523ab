// ICMP echo sockets on POSIX: a raw socket where the process may have one,
// else an unprivileged ICMP datagram socket (Linux, within
// net.ipv4.ping_group_range), dressed up to look like the raw one.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/clock.h"
#include "platform/icmp.h"

namespace doorlink::platform {
namespace {

constexpr int kHeaderLength = 20;
constexpr size_t kTypeAt = kHeaderLength;
constexpr uint8_t kEchoRequest = 8;

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

// A datagram socket's identifier is its "port", which the kernel puts into
// every echo request it sends and by which it hands replies to the socket:
// bound to port 0, the socket gets one that no other has. A raw socket's is
// the process id plus its descriptor, which no other socket of the process
// has while it is open.
bool take_identifier(int fd, uint16_t& identifier) {
    if (!is_datagram_socket(fd)) {
        identifier = static_cast<uint16_t>((process_id() + static_cast<uint32_t>(fd)) & 0xFFFF);
        return true;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t len = sizeof local;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        return false;
    }
    // The port's bytes are the identifier's bytes on the wire.
    uint8_t bytes[2];
    std::memcpy(bytes, &local.sin_port, 2);
    identifier = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    return true;
}

}  // namespace

SocketHandle icmp_socket_open(int receiveTimeoutMs, uint16_t& identifier) {
    int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return 0;
    fd = away_from_zero(fd);
    if (fd < 0) return 0;
    if (!take_identifier(fd, identifier)) {
        ::close(fd);
        return 0;
    }
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

IcmpReceive icmp_receive_from(SocketHandle socket, uint8_t* buffer, int capacity, int waitMs, int& length,
                              uint32_t& from) {
    const int fd = fd_of(socket);
    if (capacity <= kHeaderLength) return IcmpReceive::Failed;
    const bool datagram = is_datagram_socket(fd);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs < 0 ? 0 : waitMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, left.count() < 0 ? 0 : static_cast<int>(left.count()));
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
