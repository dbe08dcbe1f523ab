#include "serve/midnights.h"

#include <date/date.h>

#include "zones/zones.h"

namespace doorlinkd {

int64_t next_local_midnight(const std::string& zone, int64_t afterMs) {
    const std::string today = local_text(afterMs, zone);
    const date::year_month_day day{date::year{std::stoi(today.substr(0, 4))},
                                   date::month{static_cast<unsigned>(std::stoi(today.substr(4, 2)))},
                                   date::day{static_cast<unsigned>(std::stoi(today.substr(6, 2)))}};
    // The next day's midnight, unless the clocks went back over it and it
    // came already; then the one after.
    for (int ahead = 1;; ++ahead) {
        const auto next = date::sys_days{day} + date::days{ahead};
        const int64_t midnight = instant_of(date::format("%Y%m%d000000", next), zone).utcMs;
        if (midnight > afterMs) return midnight;
    }
}

}  // namespace doorlinkd
