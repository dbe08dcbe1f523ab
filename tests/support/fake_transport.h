// A scripted transport for protocol logic without sockets: it records every
// send and sleep and answers each receive from a queue (an empty queue is a
// silent peer).
#pragma once

#include <cstring>
#include <deque>
#include <vector>

#include "core/mac.h"
#include "core/transport.h"

namespace doorlink::testing {

// The MAC the protocol tests address their requests to.
inline const core::Mac kMac = {0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56};

class FakeTransport : public core::Transport {
public:
    using Bytes = std::vector<uint8_t>;

    struct Sent {
        Bytes bytes;
        core::Endpoint to;
    };
    struct Incoming {
        Bytes bytes;
        core::Endpoint from;
        bool late = false;  // comes only after any grace: a receive_within misses it
    };

    // Queues a datagram for a later receive.
    void answer(Bytes bytes, core::Endpoint from = {0x0100007F, 0x2823}) {
        incoming.push_back({std::move(bytes), from});
    }
    // Queues a datagram that arrives too late for the grace after a stale one.
    void answer_late(Bytes bytes) {
        answer(std::move(bytes));
        incoming.back().late = true;
    }

    core::SocketHandle open(uint16_t& localPort) override {
        ++opens;
        if (failOpen) return 0;
        localPort = boundPort;
        return 42;
    }
    void close(core::SocketHandle) override { ++closes; }
    int send(core::SocketHandle, const uint8_t* data, int length, const core::Endpoint& to) override {
        if (failSendAfter >= 0 && static_cast<int>(sent.size()) >= failSendAfter) return -1;
        sent.push_back({Bytes(data, data + length), to});
        return length;
    }
    int receive(core::SocketHandle, uint8_t* buffer, int capacity, core::Endpoint& from) override {
        ++receives;
        if (incoming.empty()) return -1;
        Incoming next = std::move(incoming.front());
        incoming.pop_front();
        if (static_cast<int>(next.bytes.size()) > capacity) return -1;
        if (!next.bytes.empty()) std::memcpy(buffer, next.bytes.data(), next.bytes.size());
        from = next.from;
        return static_cast<int>(next.bytes.size());
    }
    int receive_within(core::SocketHandle socket, uint8_t* buffer, int capacity, core::Endpoint& from,
                       int) override {
        if (!incoming.empty() && incoming.front().late) {
            ++receives;
            return -1;
        }
        return receive(socket, buffer, capacity, from);
    }
    void sleep(uint32_t milliseconds) override { sleeps.push_back({milliseconds, sent.size()}); }

    struct Sleep {
        uint32_t ms;
        size_t afterSends;  // how many datagrams had been sent when it slept
    };

    std::deque<Incoming> incoming;
    std::vector<Sent> sent;
    std::vector<Sleep> sleeps;
    int opens = 0;
    int closes = 0;
    int receives = 0;
    bool failOpen = false;
    int failSendAfter = -1;
    uint16_t boundPort = 12345;
};

inline std::vector<uint8_t> acknowledgement() {
    return {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};
}

}  // namespace doorlink::testing
