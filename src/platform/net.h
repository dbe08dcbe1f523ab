// UDP (and later raw ICMP) sockets as the library needs them. The handle is a
// 32-bit value in which 0 always means "no socket", on every platform.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace doorlink::platform {

using SocketHandle = uint32_t;

// An IPv4 address and port, both in network byte order, as a sockaddr_in
// holds them.
struct Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

// Network byte order of a port, whatever the host's order.
inline uint16_t port_to_network(uint16_t port) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port & 0xFF)};
    uint16_t value;
    std::memcpy(&value, bytes, 2);
    return value;
}
inline uint16_t port_from_network(uint16_t port) {
    uint8_t bytes[2];
    std::memcpy(bytes, &port, 2);
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// Start and release the platform's socket library; each successful socket
// opening is bracketed by one of each (no-ops where no such step exists).
bool net_startup();
void net_cleanup();

SocketHandle udp_socket_create();
void socket_close(SocketHandle socket);

// Option setters; their results are ignored by the callers.
void socket_set_exclusive_address(SocketHandle socket);
void socket_set_receive_timeout(SocketHandle socket, int milliseconds);
void socket_set_broadcast(SocketHandle socket);

// Binds to the wildcard address and the given port (0 lets the platform pick).
bool socket_bind_any(SocketHandle socket, uint16_t port);

// The port the socket is bound to, in host byte order; 0 when unknown.
uint16_t socket_local_port(SocketHandle socket);

// Waits up to timeoutMs for the socket to become writable (forWrite) or
// readable; true when it did.
bool socket_wait(SocketHandle socket, bool forWrite, int timeoutMs);

// Sends one datagram; the bytes sent, or -1.
int socket_send_to(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to);

// Receives one datagram into buffer; its length (0 for an empty datagram) and
// its sender, or -1 on any error, including a datagram longer than capacity.
int socket_receive_from(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from);

// inet_addr: the dotted text as a network-order address; 0xFFFFFFFF when the
// text cannot be read.
uint32_t ipv4_from_text(const char* text);

// inet_ntoa: the dotted text of a network-order address.
std::string ipv4_to_text(uint32_t address);

// The local IPv4 address (network order) that a UDP socket connected to `to`
// gets: the address this host reaches it from. Nothing is sent; false when
// there is no route.
bool local_ipv4_toward(const Endpoint& to, uint32_t& address);

}  // namespace doorlink::platform
