#include "core/recent_photos.h"

#include <mutex>

#include "platform/clock.h"

namespace doorlink::core {

void RecentPhotos::remember(platform::SocketHandle socket, const Photo& photo) {
    std::lock_guard<platform::Mutex> guard(lock_);
    entries_[next_] = Entry{socket, platform::tick_count_ms(), photo};
    next_ = (next_ + 1) % entries_.size();
}

bool RecentPhotos::took(platform::SocketHandle socket, const Key& key, uint32_t block, uint64_t fingerprint) {
    std::lock_guard<platform::Mutex> guard(lock_);
    const uint32_t now = platform::tick_count_ms();
    for (const Entry& e : entries_) {
        if (e.socket != socket || socket == 0 || now - e.at >= kMemoryMs || e.photo.key != key) continue;
        if (block > 0 || e.photo.fingerprint == fingerprint) return true;
    }
    return false;
}

uint64_t Fingerprint(const uint8_t* data, size_t length) {
    uint64_t hash = 1469598103934665603ull;
    for (size_t i = 0; i < length; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace doorlink::core
