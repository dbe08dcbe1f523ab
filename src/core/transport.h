// The UDP transport to controllers: sockets bound to a local port from the
// port range or a random port from 9000 to 17999, sends and receives each
// after a readiness wait of 2 seconds.
#pragma once

#include <cstdint>

#include "core/library_state.h"
#include "platform/clock.h"
#include "platform/net.h"

namespace doorlink::core {

using platform::Endpoint;
using platform::SocketHandle;

constexpr uint16_t kControllerPort = 9000;
constexpr int kReadinessWaitMs = 2000;
constexpr int kReceiveTimeoutMs = 1000;

// A socket bound as the library binds every socket; 0 on failure.
SocketHandle OpenControllerSocket(uint16_t& localPort);
// The same, obeying the given range instead of the library's: from the range
// start up to its end when it is set, else from a random port 9000..17999.
SocketHandle OpenSocketInRange(const PortRange& range, uint16_t& localPort);
void CloseControllerSocket(SocketHandle socket);
// The bytes sent, or -1.
int SendToController(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to);
// SendToController copies times in a row; false when any send fails.
bool SendCopiesToController(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to,
                            int copies);
// The bytes received (0 for an empty datagram), or -1; from becomes the sender.
int ReceiveFromController(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from);
// The same on a socket that OpenControllerSocket or OpenSocketInRange opened
// and that has not been handed over: where the platform can, one blocking
// receive bounded by the readiness wait.
int ReceiveOnOwnSocket(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from);
// Readies such a socket for the host (its receive time-out as the host
// expects it).
void HandOverSocket(SocketHandle socket);
// The same with a readiness wait of waitMs instead of 2 seconds.
int ReceiveFromControllerWithin(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from,
                                int waitMs);
// The address text (not validated) at UDP port 9000.
Endpoint MakeControllerAddress(const char* address);

// The seam between protocol logic and the network: the exports use the UDP
// transport, tests of the protocol logic may script their own.
class Transport {
public:
    virtual ~Transport() = default;
    virtual SocketHandle open(uint16_t& localPort) = 0;
    virtual void close(SocketHandle socket) = 0;
    virtual int send(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to) = 0;
    // send() copies times in a row; false when any of them fails.
    virtual bool send_copies(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to,
                             int copies) {
        for (int i = 0; i < copies; ++i) {
            if (send(socket, data, length, to) == -1) return false;
        }
        return true;
    }
    virtual int receive(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from) = 0;
    // receive() on a socket open() gave and that was not handed over.
    virtual int receive_own(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from) {
        return receive(socket, buffer, capacity, from);
    }
    // A receive that waits at most waitMs: the short grace in which a reply
    // that is due may still follow a stale one. -1 when nothing came.
    virtual int receive_within(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from,
                               int waitMs) {
        (void)waitMs;
        return receive(socket, buffer, capacity, from);
    }
    virtual void sleep(uint32_t milliseconds) = 0;
    // The tick count in milliseconds that waits and round trips are measured by.
    virtual uint32_t now_ms() { return platform::tick_count_ms(); }
    // A socket open() gave goes to the host.
    virtual void hand_over(SocketHandle socket) { (void)socket; }
};

// The real transport over the platform's sockets.
Transport& udp_transport();

}  // namespace doorlink::core
