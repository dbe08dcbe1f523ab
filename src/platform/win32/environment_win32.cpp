#include "platform/environment.h"

#include "platform/win32/win32_api.h"

namespace doorlink::platform {

// The process's environment block, as the host's own calls see it (a
// variable the host set before the library loaded included).
std::optional<std::string> environment_value(const char* name) {
    char value[256];
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return std::nullopt;
    return std::string(value, length);
}

}  // namespace doorlink::platform
