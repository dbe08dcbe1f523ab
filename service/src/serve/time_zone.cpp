#include "serve/time_zone.h"

#include <stdlib.h>

#include <ctime>

#include "model/errors.h"
#include "zones/zones.h"

namespace doorlinkd {

void use_time_zone(const std::string& zone) {
    require_zone(zone);
    // The file by its path: the zone checked is the zone used, whatever TZDIR says.
    // NOLINTNEXTLINE(concurrency-mt-unsafe): before any thread starts
    if (::setenv("TZ", (":" + std::string(kZoneDirectory) + "/" + zone).c_str(), 1) != 0) {
        throw StoreError("cannot set the time zone " + zone);
    }
    tzset();  // NOLINT(concurrency-mt-unsafe): before any thread starts
}

}  // namespace doorlinkd
