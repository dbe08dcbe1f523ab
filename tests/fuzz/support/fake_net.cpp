// The platform network over the datagram script: sockets always open and
// bind, sends always succeed, every wait is over at once, and every receive
// takes the next datagram of the script.
#include <arpa/inet.h>
#include <netinet/in.h>

#include "platform/net.h"
#include "support/fake_platform.h"

namespace doorlink::fuzz {
namespace {
DatagramScript* networkScript = nullptr;
}  // namespace

void use_network_script(DatagramScript* script) { networkScript = script; }

}  // namespace doorlink::fuzz

namespace doorlink::platform {

bool net_startup() { return true; }
void net_cleanup() {}
SocketHandle udp_socket_create() { return 42; }
void socket_close(SocketHandle) {}
void socket_set_exclusive_address(SocketHandle) {}
void socket_set_receive_timeout(SocketHandle, int) {}
void socket_set_broadcast(SocketHandle) {}
bool socket_bind_any(SocketHandle, uint16_t) { return true; }
uint16_t socket_local_port(SocketHandle) { return 12345; }
bool socket_wait(SocketHandle, bool, int) { return true; }

int socket_send_to(SocketHandle, const uint8_t*, int length, const Endpoint&) { return length; }

int socket_receive_from(SocketHandle, uint8_t* buffer, int capacity, Endpoint& from) {
    if (!fuzz::networkScript) return -1;
    return fuzz::networkScript->receive(buffer, capacity, from);
}

int socket_receive_waiting(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from, int) {
    return socket_receive_from(socket, buffer, capacity, from);
}

int socket_send_waiting(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to, int) {
    return socket_send_to(socket, data, length, to);
}
bool socket_send_copies(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to, int copies,
                        int) {
    for (int i = 0; i < copies; ++i) {
        if (socket_send_to(socket, data, length, to) < 1) return false;
    }
    return true;
}
bool socket_set_own_receive_timeout(SocketHandle, int, int) { return true; }
int socket_receive_bounded(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from, int) {
    return socket_receive_from(socket, buffer, capacity, from);
}
void socket_hand_over(SocketHandle, int) {}

uint32_t ipv4_from_text(const char* text) { return text ? ::inet_addr(text) : INADDR_NONE; }

std::string ipv4_to_text(uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &a, text, sizeof text) ? text : "";
}

// The host reaches a controller on loopback from 127.0.0.1, any other from
// a documentation address.
bool local_ipv4_toward(const Endpoint& to, uint32_t& address) {
    const bool loopback = (ntohl(to.address) >> 24) == 127;
    address = ::inet_addr(loopback ? "127.0.0.1" : "192.0.2.1");
    return true;
}

}  // namespace doorlink::platform
