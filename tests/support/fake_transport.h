// A scripted transport for protocol logic without sockets: it records every
// send and sleep and answers each receive from a queue (an empty queue is a
// silent peer). Time is its own: a clock in milliseconds that moves only
// when a receive waits in vain or for a datagram that arrives later, and when
// the logic sleeps.
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
        uint32_t at = 0;  // the clock when it was sent
    };
    struct Incoming {
        Bytes bytes;
        core::Endpoint from;
        bool late = false;  // comes only after any grace: a receive_within misses it
        uint32_t at = 0;    // arrives when the clock shows this
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
    // Queues a datagram that arrives at a time of the clock.
    void answer_at(uint32_t at, Bytes bytes) {
        answer(std::move(bytes));
        incoming.back().at = at;
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
        sent.push_back({Bytes(data, data + length), to, clock});
        return length;
    }
    int receive(core::SocketHandle, uint8_t* buffer, int capacity, core::Endpoint& from) override {
        return take(buffer, capacity, from, core::kReadinessWaitMs);
    }
    int receive_within(core::SocketHandle, uint8_t* buffer, int capacity, core::Endpoint& from,
                       int waitMs) override {
        if (!incoming.empty() && incoming.front().late) return take(nullptr, 0, from, waitMs);
        return take(buffer, capacity, from, waitMs);
    }
    void sleep(uint32_t milliseconds) override {
        sleeps.push_back({milliseconds, sent.size()});
        clock += milliseconds;
    }
    uint32_t now_ms() override { return clock; }

    struct Sleep {
        uint32_t ms;
        size_t afterSends;  // how many datagrams had been sent when it slept
    };

    std::deque<Incoming> incoming;
    std::vector<Sent> sent;
    std::vector<Sleep> sleeps;
    std::vector<int> waits;  // what each receive would wait at most
    uint32_t clock = 0;
    int opens = 0;
    int closes = 0;
    int receives = 0;
    bool failOpen = false;
    int failSendAfter = -1;
    uint16_t boundPort = 12345;

private:
    // The next datagram when it arrives within waitMs (never without a
    // buffer); else -1, waitMs later.
    int take(uint8_t* buffer, int capacity, core::Endpoint& from, int waitMs) {
        ++receives;
        waits.push_back(waitMs);
        if (!buffer || incoming.empty() || static_cast<int32_t>(incoming.front().at - clock) > waitMs) {
            clock += static_cast<uint32_t>(waitMs);
            return -1;
        }
        if (static_cast<int32_t>(incoming.front().at - clock) > 0) clock = incoming.front().at;
        Incoming next = std::move(incoming.front());
        incoming.pop_front();
        if (static_cast<int>(next.bytes.size()) > capacity) return -1;
        if (!next.bytes.empty()) std::memcpy(buffer, next.bytes.data(), next.bytes.size());
        from = next.from;
        return static_cast<int>(next.bytes.size());
    }
};

inline std::vector<uint8_t> acknowledgement() {
    return {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};
}

}  // namespace doorlink::testing
