// Leavers: people whose access a newer revision ends (disabled, removed, or
// valid until an earlier date). Their cards leave every controller at once,
// whichever revision a controller was applied, without waiting for anyone
// to apply the rest of the newer revision.
#pragma once

#include <string>
#include <vector>

#include "model/policy.h"

namespace doorlinkd {

// The applied policy with the access newest ends taken out: a person newest
// has no more, or has inactive, is inactive; one whose validity ends earlier
// in newest ends then. Nothing else of newest is taken over.
Policy without_leavers(Policy applied, const Policy& newest);

// What goes to a controller applied at one revision while newest is the
// newest: the applied revision's people, groups, schedules and holidays
// without newest's leavers, and newest's card rows, which go out as they
// are written (they know no apply).
Policy sent_policy(Policy applied, const Policy& newest);

// The ids of the people whose access after ends where before's did not:
// present and active in before, and in after removed, inactive, or valid
// until an earlier date (or a date where before had none). In id order.
std::vector<std::string> new_leavers(const Policy& before, const Policy& after);

}  // namespace doorlinkd
