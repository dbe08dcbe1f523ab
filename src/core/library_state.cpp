#include "core/library_state.h"

#include "platform/files.h"
#include "platform/module_entry.h"

namespace doorlink::core {

namespace {
constexpr size_t kPathCapacity = 500;
constexpr uint64_t kRangeSetBit = uint64_t{1} << 63;
}  // namespace

std::string module_directory_of(const std::string& executablePath, char separator) {
    size_t last = 0;
    for (size_t i = 0; i < executablePath.size() && i < kPathCapacity; ++i) {
        if (executablePath[i] == '\0') break;
        if (executablePath[i] == separator) last = i;
    }
    return executablePath.substr(0, last);
}

LibraryState::LibraryState() {
    executablePath_ = platform::executable_path().substr(0, kPathCapacity);
    if (auto overridden = platform::module_directory_override()) {
        moduleDirectory_ = *overridden;
    } else {
        moduleDirectory_ = module_directory_of(executablePath_, platform::kPathSeparator);
    }
    for (auto& flag : conversionFlags_) flag.store(0);
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
    uint64_t packed = kRangeSetBit | (static_cast<uint64_t>(start) << 16) |
                      static_cast<uint64_t>(end);
    portRange_.store(packed, std::memory_order_release);
    return true;
}

}  // namespace doorlink::core

namespace doorlink {

void on_process_attach() { core::LibraryState::get(); }

}  // namespace doorlink
