// The debugger output on POSIX: standard error when DOORLINK_TRACE is set,
// else nowhere.
#include "platform/trace.h"

#include <cstdio>
#include <cstdlib>

namespace doorlink::platform {

void debug_trace(const char* text) {
    static const bool enabled = std::getenv("DOORLINK_TRACE") != nullptr;
    if (enabled && text) std::fputs(text, stderr);
}

}  // namespace doorlink::platform
