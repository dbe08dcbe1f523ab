// The adaptive wait switched on for one controller address during a test,
// and off for every controller after it.
#pragma once

#include "core/library_state.h"

namespace doorlink::testing {

class AdaptiveWaitOn {
public:
    AdaptiveWaitOn(const char* address, int minimumMs) {
        core::LibraryState::get().adaptive_waits().set(address, minimumMs);
    }
    ~AdaptiveWaitOn() { core::LibraryState::get().adaptive_waits().set(nullptr, 0); }
    AdaptiveWaitOn(const AdaptiveWaitOn&) = delete;
    AdaptiveWaitOn& operator=(const AdaptiveWaitOn&) = delete;
};

}  // namespace doorlink::testing
