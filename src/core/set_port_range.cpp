#include "core/export_guard.h"
#include "core/library_state.h"
#include "doorlink/doorlink.h"

extern "C" DOORLINK_API uint32_t DOORLINK_CALL SetPortRange(int32_t start, int32_t end) {
    return doorlink::core::guarded<uint32_t>(0, [&]() -> uint32_t {
        return doorlink::core::LibraryState::get().set_port_range(start, end) ? 1 : 0;
    });
}
