#pragma once

#include <array>
#include <cstdint>

#include "core/mac.h"
#include "platform/clock.h"

namespace doorlink::commands {

// The 32-byte set-clock request for the given local time.
std::array<uint8_t, 32> build_set_time_request(const platform::LocalTime& now, const core::Mac& mac);

}  // namespace doorlink::commands
