#include "core/export_guard.h"
#include "core/library_state.h"
#include "doorlink/doorlink.h"

extern "C" DOORLINK_API uint32_t DOORLINK_CALL SetAdaptiveWait(const char* address, int32_t minimumMs) {
    return doorlink::core::guarded<uint32_t>(0, [&]() -> uint32_t {
        return doorlink::core::LibraryState::get().adaptive_waits().set(address, minimumMs) ? 1 : 0;
    });
}
