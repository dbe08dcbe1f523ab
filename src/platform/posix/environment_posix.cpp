#include "platform/environment.h"

#include <cstdlib>

namespace doorlink::platform {

std::optional<std::string> environment_value(const char* name) {
    // Read when the library state is built; nothing in the library sets the
    // environment.
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

}  // namespace doorlink::platform
