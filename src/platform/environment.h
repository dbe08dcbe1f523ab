// The environment of the host process, read by the library once when it
// loads: settings for hosts that cannot be changed.
#pragma once

#include <optional>
#include <string>

namespace doorlink::platform {

// The value of an environment variable; none when it is unset or empty.
std::optional<std::string> environment_value(const char* name);

}  // namespace doorlink::platform
