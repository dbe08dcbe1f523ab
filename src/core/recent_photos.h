// The photos DoorPic took lately on each monitoring socket. A network that
// repeats or reorders datagrams may deliver copies of a photo's blocks after
// the photo was taken, even after the next one; with this memory a later
// call knows them for copies instead of taking them for a new photo.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/net.h"
#include "platform/threads.h"

namespace doorlink::core {

class RecentPhotos {
public:
    // What every block of one photo carries alike (its card, photo id, time
    // and number of blocks).
    using Key = std::array<uint8_t, 12>;
    struct Photo {
        uint64_t fingerprint = 0;  // of the whole first block
        Key key{};
    };
    // Copies come late by seconds at most; older memories are forgotten.
    static constexpr uint32_t kMemoryMs = 60000;
    // Photos remembered over all sockets; the oldest goes first.
    static constexpr size_t kPhotos = 64;

    void remember(platform::SocketHandle socket, const Photo& photo);
    // Whether the socket took lately a photo of which this block is a copy:
    // block 0 byte for byte (by its fingerprint), a later block by its key.
    bool took(platform::SocketHandle socket, const Key& key, uint32_t block, uint64_t fingerprint);

private:
    struct Entry {
        platform::SocketHandle socket = 0;
        uint32_t at = 0;
        Photo photo;
    };
    platform::Mutex lock_;
    std::array<Entry, kPhotos> entries_{};
    size_t next_ = 0;
};

// FNV-1a over the bytes: tells a copy of a datagram from another.
uint64_t Fingerprint(const uint8_t* data, size_t length);

}  // namespace doorlink::core
