// The framed command link's own UDP socket: it binds and talks like the
// controller transport, but keeps its remote end and port range in itself.
#pragma once

#include <cstdint>
#include <string>

#include "core/transport.h"

namespace doorlink::framed {

class UdpChannel {
public:
    UdpChannel() = default;
    virtual ~UdpChannel();
    UdpChannel(const UdpChannel&) = delete;
    UdpChannel& operator=(const UdpChannel&) = delete;

    void SetRemote(const std::string& address, uint32_t port);
    void SetRange(uint16_t start, uint16_t end);

    // 1 when a socket is bound (its port in localPort), else 0.
    int Open(uint16_t& localPort);
    // The bytes sent, or -1.
    int Send(const uint8_t* data, int length);
    // The bytes received, or -1; the sender's dotted address and port.
    int Receive(uint8_t* buffer, int size, std::string& fromAddress, uint16_t& fromPort);
    // Closes the socket, if one is open.
    void Close();

private:
    std::string remoteAddress_;
    uint32_t remotePort_ = 0;  // only the low 16 bits are used
    bool rangeSet_ = false;
    uint16_t rangeStart_ = 9000;
    uint16_t rangeEnd_ = 18000;
    core::SocketHandle socket_ = 0;
};

}  // namespace doorlink::framed
