#include "core/transport.h"

#include <ctime>
#include <random>

#include "core/library_state.h"
#include "platform/clock.h"

namespace doorlink::core {

namespace {

// The first port to try without a range. The generator belongs to the calling
// thread and is seeded with the time in seconds on every opening, as the
// controllers' hosts have always drawn it: the port is no secret.
uint16_t random_first_port() {
    // NOLINTNEXTLINE(cert-msc32-c,cert-msc51-cpp,bugprone-random-generator-seed)
    thread_local std::minstd_rand generator;
    // NOLINTNEXTLINE(cert-msc32-c,cert-msc51-cpp,bugprone-random-generator-seed)
    generator.seed(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    return static_cast<uint16_t>(9000 + generator() % 9000);
}

}  // namespace

SocketHandle OpenControllerSocket(uint16_t& localPort) {
    return OpenSocketInRange(LibraryState::get().port_range(), localPort);
}

SocketHandle OpenSocketInRange(const PortRange& range, uint16_t& localPort) {
    uint16_t port = range.set ? static_cast<uint16_t>(range.start) : random_first_port();
    if (!platform::net_startup()) return 0;
    SocketHandle socket = platform::udp_socket_create();
    if (socket == 0) {
        platform::net_cleanup();
        return 0;
    }
    platform::socket_set_exclusive_address(socket);
    // A socket whose receives cannot be bounded could hold its caller for ever.
    if (!platform::socket_set_own_receive_timeout(socket, kReceiveTimeoutMs, kReadinessWaitMs)) {
        CloseControllerSocket(socket);
        return 0;
    }
    // Without a range the ports wrap past 65535 to 0, where the platform picks
    // one; the count only stops a platform on which no bind ever succeeds.
    // Ports that the library's own sockets hold are stepped over unasked.
    HeldPorts& held = LibraryState::get().held_ports();
    for (uint32_t attempts = 0; attempts <= 65536u; ++attempts) {
        if ((port == 0 || !held.held(port)) && platform::socket_bind_any(socket, port)) {
            localPort = port;
            if (port != 0) held.hold(socket, port);
            return socket;
        }
        port = static_cast<uint16_t>(port + 1);
        if (range.set && port > range.end) {
            CloseControllerSocket(socket);
            return 0;
        }
    }
    CloseControllerSocket(socket);
    return 0;
}

void CloseControllerSocket(SocketHandle socket) {
    LibraryState::get().held_ports().release(socket);
    platform::socket_close(socket);
    platform::net_cleanup();
}

int SendToController(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to) {
    // The wait for writability comes only where the send cannot go at once.
    int sent = platform::socket_send_waiting(socket, data, length, to, kReadinessWaitMs);
    return sent < 1 ? -1 : sent;
}

int ReceiveFromController(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from) {
    return ReceiveFromControllerWithin(socket, buffer, capacity, from, kReadinessWaitMs);
}

bool SendCopiesToController(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to,
                            int copies) {
    return platform::socket_send_copies(socket, data, length, to, copies, kReadinessWaitMs);
}

int ReceiveOnOwnSocket(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from) {
    return platform::socket_receive_bounded(socket, buffer, capacity, from, kReadinessWaitMs);
}

// The host closes it in its own time, so its port is no longer known to be held.
void HandOverSocket(SocketHandle socket) {
    LibraryState::get().held_ports().release(socket);
    platform::socket_hand_over(socket, kReceiveTimeoutMs);
}

int ReceiveFromControllerWithin(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from,
                                int waitMs) {
    return platform::socket_receive_waiting(socket, buffer, capacity, from, waitMs < 0 ? 0 : waitMs);
}

Endpoint MakeControllerAddress(const char* address) {
    Endpoint e;
    e.address = platform::ipv4_from_text(address);
    e.port = platform::port_to_network(kControllerPort);
    return e;
}

namespace {

class UdpTransport final : public Transport {
public:
    SocketHandle open(uint16_t& localPort) override { return OpenControllerSocket(localPort); }
    void close(SocketHandle socket) override { CloseControllerSocket(socket); }
    int send(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to) override {
        return SendToController(socket, data, length, to);
    }
    int receive(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from) override {
        return ReceiveFromController(socket, buffer, capacity, from);
    }
    bool send_copies(SocketHandle socket, const uint8_t* data, int length, const Endpoint& to,
                     int copies) override {
        return SendCopiesToController(socket, data, length, to, copies);
    }
    int receive_own(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from) override {
        return ReceiveOnOwnSocket(socket, buffer, capacity, from);
    }
    int receive_within(SocketHandle socket, uint8_t* buffer, int capacity, Endpoint& from,
                       int waitMs) override {
        return ReceiveFromControllerWithin(socket, buffer, capacity, from, waitMs);
    }
    void hand_over(SocketHandle socket) override { HandOverSocket(socket); }
    void sleep(uint32_t milliseconds) override { platform::sleep_ms(milliseconds); }
};

}  // namespace

Transport& udp_transport() {
    static UdpTransport transport;
    return transport;
}

}  // namespace doorlink::core
