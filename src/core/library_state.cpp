#include "core/library_state.h"

#include <mutex>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/module_entry.h"

namespace doorlink::core {

namespace {
constexpr size_t kPathCapacity = 500;
constexpr uint64_t kRangeSetBit = uint64_t{1} << 63;

// DOORLINK_ADAPTIVE_WAIT: the lower bound for every controller, as decimal
// digits; any other text leaves the adaptive wait off.
void adopt_adaptive_wait(AdaptiveWaits& waits) {
    const auto text = platform::environment_value("DOORLINK_ADAPTIVE_WAIT");
    if (!text || text->size() > 4 || text->find_first_not_of("0123456789") != std::string::npos) return;
    (void)waits.set(nullptr, std::stoi(*text));
}
}  // namespace

std::string module_directory_of(const std::string& executablePath, char separator) {
    size_t last = 0;
    for (size_t i = 0; i < executablePath.size() && i < kPathCapacity; ++i) {
        if (executablePath[i] == '\0') break;
        if (executablePath[i] == separator) last = i;
    }
    return executablePath.substr(0, last);
}

void NumberedLocks::lock(int32_t number, bool shared) {
    Entry* entry;
    {
        std::lock_guard<platform::Mutex> table(tableLock_);
        auto& slot = entries_[number];
        if (!slot) slot = std::make_unique<Entry>();
        entry = slot.get();
        ++entry->users;
    }
    if (shared) entry->mutex.lock_shared();
    else entry->mutex.lock();
}

void NumberedLocks::unlock(int32_t number, bool shared) {
    std::lock_guard<platform::Mutex> table(tableLock_);
    auto found = entries_.find(number);
    if (found == entries_.end()) return;
    Entry& entry = *found->second;
    if (shared) entry.mutex.unlock_shared();
    else entry.mutex.unlock();
    if (--entry.users == 0) entries_.erase(found);
}

LibraryState::LibraryState() {
    executablePath_ = platform::executable_path().substr(0, kPathCapacity);
    if (auto overridden = platform::module_directory_override()) {
        moduleDirectory_ = *overridden;
    } else {
        moduleDirectory_ = module_directory_of(executablePath_, platform::kPathSeparator);
    }
    for (auto& flag : conversionFlags_) flag.store(0);
    adopt_adaptive_wait(adaptiveWaits_);
}

LibraryState& LibraryState::get() {
    static LibraryState state;
    return state;
}

PortRange LibraryState::port_range() const {
    uint64_t packed = portRange_.load(std::memory_order_acquire);
    PortRange range;
    range.set = (packed & kRangeSetBit) != 0;
    range.start = static_cast<uint32_t>((packed >> 16) & 0xFFFF);
    range.end = static_cast<uint32_t>(packed & 0xFFFF);
    return range;
}

bool LibraryState::set_port_range(int32_t start, int32_t end) {
    if (start < 0 || start > 65535 || end < 0 || end > 65535) return false;
    uint64_t packed = kRangeSetBit | (static_cast<uint64_t>(start) << 16) | static_cast<uint64_t>(end);
    portRange_.store(packed, std::memory_order_release);
    return true;
}

}  // namespace doorlink::core

namespace doorlink {

void on_process_attach() { core::LibraryState::get(); }

}  // namespace doorlink
