// The peer of a fuzz target: what is left of the input, read as datagrams.
// Each datagram is a two-byte header, high byte first, then its bytes:
//   0xFFFF       a silence (the receive fails), nothing follows;
//   otherwise    bit 15 set: the datagram comes from another sender than the
//                controller; bits 0-14: its length. Its bytes follow, zero
//                filled where the input ends first.
// After kMaxDatagrams datagrams, or when fewer than two bytes are left, every
// receive is a silence, so that every call that waits for its peer ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/net.h"

namespace doorlink::fuzz {

constexpr int kMaxDatagrams = 256;
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
        ++receives_;
        if (delivered_ >= kMaxDatagrams || size_ - at_ < 2) return -1;
        const uint16_t header = static_cast<uint16_t>(data_[at_] << 8 | data_[at_ + 1]);
        at_ += 2;
        if (header == kSilence) return -1;
        ++delivered_;
        const size_t length = static_cast<size_t>(header & 0x7FFFu);
        const size_t available = length < size_ - at_ ? length : size_ - at_;
        const uint8_t* bytes = data_ + at_;
        at_ += available;
        if (capacity < 0 || length > static_cast<size_t>(capacity)) return -1;
        if (available) std::memcpy(buffer, bytes, available);
        if (length > available) std::memset(buffer + available, 0, length - available);
        from = (header & kStrangerBit) ? stranger_endpoint() : controller_endpoint();
        return static_cast<int>(length);
    }

    long receives() const { return receives_; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
    int delivered_ = 0;
    long receives_ = 0;
};

}  // namespace doorlink::fuzz
