// ICMP echo over IPv4, as a raw socket offers it: every receive delivers the
// IPv4 header (20 bytes, no options, as far as the caller cares) followed by
// the ICMP message. A raw socket shows every ICMP message that reaches the
// host, those meant for other sockets too; each socket has an identifier of
// its own for its echo requests, by which the caller tells its replies.
//
// Where no raw socket can be had, a backend may use another kind of socket
// (an unprivileged ICMP datagram socket, say) as long as the caller sees the
// same thing: a 20-byte IPv4 header in front of the message, and replies that
// carry the identifier of the request they answer. Where a raw socket also
// shows echo requests (this host's own, when it pings a local address), the
// receive skips them, so that the first datagram it returns is an answer.
#pragma once

#include <cstdint>

#include "platform/net.h"

namespace doorlink::platform {

// An ICMP socket with the given receive time-out; 0 when none can be had.
// Sets identifier to the one its echo requests are to carry (as the request
// stores it, least significant byte first): no other socket of this process
// open at the same time has it, nor, for an ICMP datagram socket, any other
// such socket of the host. The socket library must have been started
// (net_startup).
SocketHandle icmp_socket_open(int receiveTimeoutMs, uint16_t& identifier);
void icmp_socket_close(SocketHandle socket);

// Sends one ICMP message to address (network order); the bytes sent, or -1.
int icmp_send_to(SocketHandle socket, const uint8_t* message, int length, uint32_t address);

enum class IcmpReceive { Received, TimedOut, Failed };

// Receives one datagram (IPv4 header and ICMP message) within waitMs;
// length and sender (network order) are set when it was Received.
IcmpReceive icmp_receive_from(SocketHandle socket, uint8_t* buffer, int capacity, int waitMs, int& length,
                              uint32_t& from);

}  // namespace doorlink::platform
