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

// Waits up to waitMs for the socket to become readable and receives one
// datagram as socket_receive_from does; -1 when none came. Where the platform
// can, the receive never blocks, so that a datagram reported and then gone
// costs no more than the wait.
int socket_receive_waiting(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from, int waitMs);

// Sends one datagram, waiting up to waitMs for the socket to become writable
// where it is not at once; the bytes sent, or -1.
int socket_send_waiting(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to, int waitMs);

// Sends one datagram copies times in a row (as socket_send_waiting each);
// false when any of them cannot be sent. Where the platform can, in one call.
bool socket_send_copies(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to, int copies,
                        int waitMs);

// The receive time-out of a socket the library opens and uses itself. Where
// a blocking receive bounded by the socket's time-out can stand for a wait
// for readiness followed by a receive, the backend sets the readiness wait
// instead (and socket_receive_bounded then needs one call where it would
// take two); elsewhere receiveTimeoutMs. False when the socket's receives
// cannot be bounded at all: such a socket is not to be used.
bool socket_set_own_receive_timeout(SocketHandle socket, int receiveTimeoutMs, int readinessWaitMs);
// Waits up to readinessWaitMs for a datagram on such a socket and receives
// it: as socket_receive_waiting, -1 when nothing came.
int socket_receive_bounded(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from,
                           int readinessWaitMs);
// Gives such a socket the receive time-out receiveTimeoutMs before it goes to
// the host, who may receive on it with calls of its own.
void socket_hand_over(SocketHandle socket, int receiveTimeoutMs);

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
