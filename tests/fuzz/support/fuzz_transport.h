// The transport seam of the fuzz targets: every receive comes from the
// datagram script, sends always succeed, and nothing ever sleeps.
#pragma once

#include "core/transport.h"
#include "support/datagram_script.h"

namespace doorlink::fuzz {

class FuzzTransport final : public core::Transport {
public:
    explicit FuzzTransport(DatagramScript& script) : script_(script) {}

    core::SocketHandle open(uint16_t& localPort) override {
        localPort = 12345;
        ++opened_;
        return 42;
    }
    void close(core::SocketHandle) override { ++closed_; }
    int send(core::SocketHandle, const uint8_t*, int length, const core::Endpoint&) override {
        return length;
    }
    int receive(core::SocketHandle, uint8_t* buffer, int capacity, core::Endpoint& from) override {
        return script_.receive(buffer, capacity, from);
    }
    void sleep(uint32_t) override {}

    // Every socket the library opened was closed again.
    bool balanced() const { return opened_ == closed_; }

private:
    DatagramScript& script_;
    int opened_ = 0;
    int closed_ = 0;
};

}  // namespace doorlink::fuzz
