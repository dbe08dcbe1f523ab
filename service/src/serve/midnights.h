// Local midnights of the sites' zones: where a site's date changes, and with
// it which cards its controllers must hold (a validity date or a holiday
// reached).
#pragma once

#include <cstdint>
#include <string>

namespace doorlinkd {

// The first instant after afterMs (ms since the epoch) at which zone's local
// date changes: its next local midnight. A midnight that falls in the gap
// of clocks going forward is the instant the gap ends (instant_of); an
// instant exactly at a midnight gives the next one. Refused for a zone that
// zone_problem refuses.
int64_t next_local_midnight(const std::string& zone, int64_t afterMs);

}  // namespace doorlinkd
