// ICMP echo on Windows: a raw socket of Windows Sockets, which delivers the
// IPv4 header in front of every ICMP message, as the interface wants it.
// Windows grants raw sockets to administrators only; elsewhere the open
// fails with 0 and the caller reports the echo as failed. (The ICMP helper
// functions would work unprivileged, but they hide the datagram, its
// identifier and the time-out of each receive, so they cannot present the
// same view.)
#include "platform/icmp.h"

#include "platform/clock.h"
#include "platform/win32/socket_handle.h"
#include "platform/win32/win32_api.h"

namespace doorlink::platform {
namespace {

constexpr int kHeaderLength = 20;
constexpr int kTypeAt = kHeaderLength;
constexpr uint8_t kEchoRequest = 8;

SOCKET sock_of(SocketHandle socket) { return static_cast<SOCKET>(socket); }

// Waits until a datagram is there or the time is up: 1 ready, 0 timed out,
// -1 failed.
int wait_readable(SOCKET s, int waitMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{};
    tv.tv_sec = waitMs / 1000;
    tv.tv_usec = (waitMs % 1000) * 1000;
    int r = ::select(0, &set, nullptr, nullptr, &tv);
    if (r == SOCKET_ERROR) return -1;
    return r > 0 ? 1 : 0;
}

}  // namespace

SocketHandle icmp_socket_open(int receiveTimeoutMs, uint16_t& identifier) {
    const SocketHandle socket = socket_handle_of(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    if (socket == 0) return 0;
    // The process id plus the socket's handle (a multiple of 4): no other
    // socket of the process has it while this one is open.
    identifier = static_cast<uint16_t>((process_id() + (socket >> 2)) & 0xFFFF);
    socket_set_receive_timeout(socket, receiveTimeoutMs);
    return socket;
}

void icmp_socket_close(SocketHandle socket) {
    if (socket != 0) ::closesocket(sock_of(socket));
}

int icmp_send_to(SocketHandle socket, const uint8_t* message, int length, uint32_t address) {
    if (length < 0) return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    int n = ::sendto(sock_of(socket), reinterpret_cast<const char*>(message), length, 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n == SOCKET_ERROR || n < 1 ? -1 : n;
}

IcmpReceive icmp_receive_from(SocketHandle socket, uint8_t* buffer, int capacity, int waitMs, int& length,
                              uint32_t& from) {
    const SOCKET s = sock_of(socket);
    if (capacity <= kHeaderLength) return IcmpReceive::Failed;
    const int timeoutMs = waitMs < 0 ? 0 : waitMs;
    const DWORD start = ::GetTickCount();
    for (;;) {
        const DWORD spent = ::GetTickCount() - start;
        const int left = spent >= static_cast<DWORD>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(spent);
        const int ready = wait_readable(s, left);
        if (ready < 0) return IcmpReceive::Failed;
        if (ready == 0) return IcmpReceive::TimedOut;

        sockaddr_in sender{};
        int len = sizeof sender;
        int n = ::recvfrom(s, reinterpret_cast<char*>(buffer), capacity, 0,
                           reinterpret_cast<sockaddr*>(&sender), &len);
        if (n == SOCKET_ERROR) {
            return ::WSAGetLastError() == WSAETIMEDOUT ? IcmpReceive::TimedOut : IcmpReceive::Failed;
        }
        // A raw socket sees echo requests too, this call's own among them
        // when the address is local; they answer nothing.
        if (n > kTypeAt && buffer[kTypeAt] == kEchoRequest) continue;
        length = n;
        from = sender.sin_addr.s_addr;
        return IcmpReceive::Received;
    }
}

}  // namespace doorlink::platform
