#include "model/controller.h"

namespace doorlinkd {

bool is_controller_name(const std::string& name) {
    constexpr size_t kMaxLength = 32;
    if (name.empty() || name.size() > kMaxLength) return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

}  // namespace doorlinkd
