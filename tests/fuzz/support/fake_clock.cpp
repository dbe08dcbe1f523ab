// The platform clock of the fuzz targets: a fixed local time, and sleeps that
// return at once.
#include "platform/clock.h"
#include "support/fuzz_home.h"

namespace doorlink::platform {

LocalTime local_time() { return fuzz::fixed_time(); }

uint32_t tick_count_ms() {
    static uint32_t ticks = 0;
    return ticks += 10;
}

void sleep_ms(uint32_t) {}

uint32_t process_id() { return 4242; }

}  // namespace doorlink::platform
