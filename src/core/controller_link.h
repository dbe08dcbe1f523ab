// The socket of one transfer that runs its own request loop over the
// transport seam (card list download and read-back, record retrieval): opened
// when the transfer starts, closed on every path. Every receive makes the
// sender the destination of the next send, as in every controller exchange.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/transport.h"

namespace doorlink::core {

class ControllerLink {
public:
    ControllerLink(Transport& transport, const char* address) : transport_(transport) {
        socket_ = transport_.open(localPort_);
        to_ = MakeControllerAddress(address);
    }
    ~ControllerLink() { close(); }
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    bool open() const { return socket_ != 0; }
    void close() {
        if (socket_ != 0) transport_.close(socket_);
        socket_ = 0;
    }
    bool send(const uint8_t* data, size_t length) {
        return transport_.send(socket_, data, static_cast<int>(length), to_) != -1;
    }
    // The same datagram several times in a row, without waiting in between.
    bool send_copies(const uint8_t* data, size_t length, int copies) {
        for (int i = 0; i < copies; ++i) {
            if (!send(data, length)) return false;
        }
        return true;
    }
    // The bytes received, or -1.
    int receive(uint8_t* buffer, int capacity) {
        return transport_.receive(socket_, buffer, capacity, to_);
    }

private:
    Transport& transport_;
    SocketHandle socket_ = 0;
    uint16_t localPort_ = 0;
    Endpoint to_;
};

}  // namespace doorlink::core
