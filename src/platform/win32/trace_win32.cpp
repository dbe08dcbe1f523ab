// The debugger output channel of Windows.
#include "platform/trace.h"

#include "platform/win32/win32_api.h"

namespace doorlink::platform {

void debug_trace(const char* text) {
    if (text) ::OutputDebugStringA(text);
}

}  // namespace doorlink::platform
