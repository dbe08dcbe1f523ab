// The debugger output channel of the platform.
#pragma once

namespace doorlink::platform {

void debug_trace(const char* text);

}  // namespace doorlink::platform
