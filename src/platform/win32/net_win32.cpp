// Sockets on Windows Sockets 2.2. Every successful net_startup is one
// WSAStartup and every net_cleanup one WSACleanup, so that each socket the
// library opens is bracketed by its own start-up and clean-up.
#include "platform/net.h"

#include <mutex>

#include "platform/threads.h"
#include "platform/win32/socket_handle.h"
#include "platform/win32/win32_api.h"

namespace doorlink::platform {
namespace {

constexpr WORD kSocketsVersion = MAKEWORD(2, 2);

SOCKET sock_of(SocketHandle socket) { return static_cast<SOCKET>(socket); }

sockaddr_in to_sockaddr(const Endpoint& e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = e.port;
    a.sin_addr.s_addr = e.address;
    return a;
}

// Start-ups and clean-ups of the socket library run one at a time. Its use
// count must never reach 0 while another thread holds a socket: the last
// clean-up closes every socket of the process, and not every implementation
// of the library counts concurrent calls safely (under Wine a clean-up on one
// thread was seen to close a socket just opened on another).
Mutex& startup_lock() {
    static Mutex lock;
    return lock;
}

}  // namespace

bool net_startup() {
    std::lock_guard<Mutex> guard(startup_lock());
    WSADATA data{};
    if (::WSAStartup(kSocketsVersion, &data) != 0) return false;
    if (data.wVersion != kSocketsVersion) {
        ::WSACleanup();
        return false;
    }
    return true;
}

void net_cleanup() {
    std::lock_guard<Mutex> guard(startup_lock());
    ::WSACleanup();
}

SocketHandle udp_socket_create() { return socket_handle_of(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)); }

void socket_close(SocketHandle socket) {
    if (socket != 0) ::closesocket(sock_of(socket));
}

void socket_set_exclusive_address(SocketHandle socket) {
    BOOL on = TRUE;
    ::setsockopt(sock_of(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                 sizeof on);
}

void socket_set_receive_timeout(SocketHandle socket, int milliseconds) {
    DWORD value = static_cast<DWORD>(milliseconds);
    ::setsockopt(sock_of(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value),
                 sizeof value);
}

void socket_set_broadcast(SocketHandle socket) {
    BOOL on = TRUE;
    ::setsockopt(sock_of(socket), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
}

bool socket_bind_any(SocketHandle socket, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = ::htons(port);
    a.sin_addr.s_addr = ::htonl(INADDR_ANY);
    return ::bind(sock_of(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

uint16_t socket_local_port(SocketHandle socket) {
    sockaddr_in a{};
    int len = sizeof a;
    if (::getsockname(sock_of(socket), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ::ntohs(a.sin_port);
}

bool socket_wait(SocketHandle socket, bool forWrite, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock_of(socket), &set);
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    int r = ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
    return r > 0 && FD_ISSET(sock_of(socket), &set);
}

int socket_send_to(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to) {
    if (length < 0) return -1;
    sockaddr_in a = to_sockaddr(to);
    int n = ::sendto(sock_of(socket), reinterpret_cast<const char*>(data), length, 0,
                     reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return n == SOCKET_ERROR ? -1 : n;
}

int socket_receive_from(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from) {
    if (capacity < 0) return -1;
    sockaddr_in a{};
    int len = sizeof a;
    int n = ::recvfrom(sock_of(socket), reinterpret_cast<char*>(buffer), capacity, 0,
                       reinterpret_cast<sockaddr*>(&a), &len);
    if (n == SOCKET_ERROR) {
        // A datagram longer than the buffer (WSAEMSGSIZE) still names its
        // sender, but it is a failed receive like any other error.
        if (::WSAGetLastError() == WSAEMSGSIZE) {
            from.address = a.sin_addr.s_addr;
            from.port = a.sin_port;
        }
        return -1;
    }
    from.address = a.sin_addr.s_addr;
    from.port = a.sin_port;
    return n;
}

// Here every send and receive waits for readiness first, as Windows Sockets
// hosts of these controllers always have; the receive time-out stays the one
// asked for.
int socket_send_waiting(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to,
                        int waitMs) {
    if (!socket_wait(socket, true, waitMs)) return -1;
    return socket_send_to(socket, data, length, to);
}

bool socket_send_copies(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to, int copies,
                        int waitMs) {
    for (int i = 0; i < copies; ++i) {
        if (socket_send_waiting(socket, data, length, to, waitMs) < 1) return false;
    }
    return true;
}

int socket_receive_waiting(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from, int waitMs) {
    if (!socket_wait(socket, false, waitMs)) return -1;
    return socket_receive_from(socket, buffer, capacity, from);
}

// Every receive here waits for readiness first, so the time-out is only a
// second bound; its result is ignored, as these hosts have always done.
bool socket_set_own_receive_timeout(SocketHandle socket, int receiveTimeoutMs, int) {
    socket_set_receive_timeout(socket, receiveTimeoutMs);
    return true;
}

int socket_receive_bounded(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from,
                           int readinessWaitMs) {
    return socket_receive_waiting(socket, buffer, capacity, from, readinessWaitMs);
}

void socket_hand_over(SocketHandle, int) {}

uint32_t ipv4_from_text(const char* text) {
    if (!text) return INADDR_NONE;
    return ::inet_addr(text);
}

std::string ipv4_to_text(uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    const char* text = ::inet_ntoa(a);
    return text ? text : "";
}

bool local_ipv4_toward(const Endpoint& to, uint32_t& address) {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = to.address;
    remote.sin_port = to.port;
    sockaddr_in local{};
    int len = sizeof local;
    // Connecting a UDP socket only chooses the route and the source address.
    const bool ok = ::connect(s, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0 &&
                    ::getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) == 0 &&
                    local.sin_addr.s_addr != INADDR_ANY;
    ::closesocket(s);
    if (ok) address = local.sin_addr.s_addr;
    return ok;
}

}  // namespace doorlink::platform
