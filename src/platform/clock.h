// Local time, tick count, sleeping and the process id.
#pragma once

#include <cstdint>

namespace doorlink::platform {

struct LocalTime {
    uint16_t year = 0;
    uint16_t month = 0;      // 1..12
    uint16_t dayOfWeek = 0;  // 0 = Sunday
    uint16_t day = 0;        // 1..31
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

LocalTime local_time();
uint32_t tick_count_ms();
void sleep_ms(uint32_t milliseconds);
uint32_t process_id();

}  // namespace doorlink::platform
