// The controllers' clocks. A controller keeps the local time of its site's
// zone and knows nothing of UTC offsets: its clock is right when it shows
// the wall-clock time of that zone now, whatever zone this process or the
// host is in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fleet/metrics.h"
#include "leases/lease_keeper.h"
#include "model/controller.h"

namespace doorlinkd {

// Milliseconds since 1970-01-01 00:00:00 UTC by this host's clock.
int64_t host_now_ms();

// The local time "yyyymmddhhmmss" of the controller's site's zone now, by
// this host's clock.
std::string site_local_now(const Controller& controller);

// Seconds a controller's clock text "yy-mm-dd hh:mm:ss" is ahead of
// localNow "yyyymmddhhmmss", its year taken in localNow's century; none for
// a text that is no time. The two are compared as calendar times, never as
// instants, which is what holds across a change of the zone's offset: just
// after the clocks went forward, a clock not yet set shows 02:00:30 where
// the zone shows 03:00:30, an hour off (read as an instant, 02:00:30 falls
// in the gap, would be taken for its end and look right); in the hour
// repeated when the clocks go back, a clock showing the zone's wall-clock
// time is right, whichever of the two the zone is in.
std::optional<int64_t> clock_skew(const std::string& clockText, const std::string& localNow);

// Sets the controller's clock to its site's local time now, under its lease
// (LeaseLost when not held), and counts the exchange; false when the
// controller did not acknowledge.
bool set_to_site_time(const Controller& controller, LeaseKeeper& leases, Metrics& metrics);

}  // namespace doorlinkd
