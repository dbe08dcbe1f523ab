// The debugger output on POSIX: standard error when DOORLINK_TRACE is set,
// else nowhere.
#include "platform/trace.h"

#include <cstdio>
#include <cstdlib>

namespace doorlink::platform {

void debug_trace(const char* text) {
    // Read once; nothing in the library sets the environment.
    static const bool enabled = std::getenv("DOORLINK_TRACE") != nullptr;  // NOLINT(concurrency-mt-unsafe)
    if (enabled && text) (void)std::fputs(text, stderr);                   // a trace has nowhere to report to
}

}  // namespace doorlink::platform
