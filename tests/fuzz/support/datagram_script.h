// The peer of a fuzz target: what is left of the input, read as datagrams.
// Each datagram is a two-byte header, high byte first, then its bytes:
//   0xFFFF       a silence (the receive fails), nothing follows;
//   otherwise    bit 15 set: the datagram comes from another sender than the
//                controller; bits 0-14: its length. Its bytes follow, zero
//                filled where the input ends first.
// After kMaxDatagrams datagrams, or when fewer than two bytes are left, the
// peer replays the datagrams it delivered, each receive one of them chosen
// at random (as a peer replaying old answers does); with nothing delivered,
// every receive is a silence. Every receiving loop of the library gives up
// long before kMaxReplays replays: a call that still receives then has a
// loop without a bound, and the script aborts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/net.h"

namespace doorlink::fuzz {

constexpr int kMaxDatagrams = 256;
constexpr long kMaxReplays = 200000;
constexpr uint16_t kSilence = 0xFFFF;
constexpr uint16_t kStrangerBit = 0x8000;

// The controller's address (127.0.0.1) and another one (127.0.0.2), port
// 9000, in network order as the platform keeps them.
platform::Endpoint controller_endpoint();
platform::Endpoint stranger_endpoint();

class DatagramScript {
public:
    DatagramScript() = default;
    DatagramScript(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // As a socket receive: the length (0 for an empty datagram) with the bytes
    // in buffer and the sender in from, or -1 for a silence and for a datagram
    // longer than capacity (which is then consumed).
    int receive(uint8_t* buffer, int capacity, platform::Endpoint& from) {
        if (static_cast<int>(delivered_.size()) >= kMaxDatagrams || size_ - at_ < 2) {
            return replay(buffer, capacity, from);
        }
        const uint16_t header = static_cast<uint16_t>(data_[at_] << 8 | data_[at_ + 1]);
        at_ += 2;
        if (header == kSilence) return -1;
        Delivered d{at_, static_cast<size_t>(header & 0x7FFFu), (header & kStrangerBit) != 0};
        at_ += d.length < size_ - at_ ? d.length : size_ - at_;
        delivered_.push_back(d);
        return deliver(d, buffer, capacity, from);
    }

private:
    struct Delivered {
        size_t at;      // where its bytes start in the input
        size_t length;  // as its header says; bytes past the input are zeros
        bool stranger;
    };

    int deliver(const Delivered& d, uint8_t* buffer, int capacity, platform::Endpoint& from) const {
        if (capacity < 0 || d.length > static_cast<size_t>(capacity)) return -1;
        const size_t available = d.at >= size_ ? 0 : d.length < size_ - d.at ? d.length : size_ - d.at;
        if (available) std::memcpy(buffer, data_ + d.at, available);
        if (d.length > available) std::memset(buffer + available, 0, d.length - available);
        from = d.stranger ? stranger_endpoint() : controller_endpoint();
        return static_cast<int>(d.length);
    }

    int replay(uint8_t* buffer, int capacity, platform::Endpoint& from) {
        if (delivered_.empty()) return -1;
        if (replays_ == kMaxReplays) {
            std::fprintf(stderr,
                         "the peer replayed %ld old datagrams and the call still receives: "
                         "a receiving loop without a bound\n",
                         kMaxReplays);
            std::abort();
        }
        ++replays_;
        random_ = random_ * 6364136223846793005ull + 1442695040888963407ull;
        return deliver(delivered_[(random_ >> 33) % delivered_.size()], buffer, capacity, from);
    }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
    std::vector<Delivered> delivered_;
    long replays_ = 0;
    uint64_t random_ = 1;
};

}  // namespace doorlink::fuzz
