#include "core/held_ports.h"

#include <mutex>

namespace doorlink::core {

void HeldPorts::hold(platform::SocketHandle socket, uint16_t port) {
    std::lock_guard<platform::Mutex> guard(lock_);
    ports_[socket] = port;
    words_[port / 64].fetch_or(uint64_t{1} << (port % 64), std::memory_order_relaxed);
}

void HeldPorts::release(platform::SocketHandle socket) {
    std::lock_guard<platform::Mutex> guard(lock_);
    auto it = ports_.find(socket);
    if (it == ports_.end()) return;
    const uint16_t port = it->second;
    ports_.erase(it);
    words_[port / 64].fetch_and(~(uint64_t{1} << (port % 64)), std::memory_order_relaxed);
}

}  // namespace doorlink::core
