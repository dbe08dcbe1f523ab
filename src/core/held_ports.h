// The local ports that the library's own open sockets hold. A bind to one of
// them can only fail, so the search for a free port steps over them without
// asking the system: with many threads opening sockets at once (all starting
// from the same port within a second) that saves a failed bind per socket
// already open, and the port found is the same.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <unordered_map>

#include "platform/net.h"
#include "platform/threads.h"

namespace doorlink::core {

class HeldPorts {
public:
    bool held(uint16_t port) const {
        return (words_[port / 64].load(std::memory_order_relaxed) >> (port % 64) & 1u) != 0;
    }
    void hold(platform::SocketHandle socket, uint16_t port);
    // Forgets the port of a socket that closes or goes to the host; nothing
    // when the socket holds none.
    void release(platform::SocketHandle socket);

private:
    std::array<std::atomic<uint64_t>, 65536 / 64> words_{};
    platform::Mutex lock_;
    std::unordered_map<platform::SocketHandle, uint16_t> ports_;  // under lock_
};

}  // namespace doorlink::core
