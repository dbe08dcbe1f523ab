// The socket of one card list transfer over the transport seam: opened when
// the transfer starts, closed on every path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/transport.h"

namespace doorlink::cardlists {

class Link {
public:
    static constexpr int kReplyCapacity = 1024;

    Link(core::Transport& transport, const char* address) : transport_(transport) {
        socket_ = transport_.open(localPort_);
        to_ = core::MakeControllerAddress(address);
    }
    ~Link() {
        if (socket_ != 0) transport_.close(socket_);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    bool open() const { return socket_ != 0; }
    bool send(const uint8_t* data, size_t length) {
        return transport_.send(socket_, data, static_cast<int>(length), to_) != -1;
    }
    // The bytes received, or -1; the sender becomes the destination of the
    // next send, as with every controller exchange.
    int receive(uint8_t* buffer) { return transport_.receive(socket_, buffer, kReplyCapacity, to_); }

private:
    core::Transport& transport_;
    core::SocketHandle socket_ = 0;
    uint16_t localPort_ = 0;
    core::Endpoint to_;
};

}  // namespace doorlink::cardlists
