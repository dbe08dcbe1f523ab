// Plans and their apply: what the newest revision of the policy changes on
// each controller against what the controller was last verified to hold,
// shown and stored before anything is sent; then applied exactly as shown,
// or refused when anything it was worked out from moved since.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fleet/outcome.h"
#include "model/access.h"
#include "model/sync_result.h"
#include "store/store.h"

namespace doorlinkd {

struct PlanArgs {
    std::string site;             // "": every site
    std::string controller;       // "": every controller (of the site)
    std::optional<int64_t> atMs;  // none: now
};

// Works the plan out and stores it. Exit 0 when nothing would change, 4
// when something would. NotFound for an unknown site or controller.
Outcome plan_make(Store& store, const PlanArgs& args, const Actor& actor);

// The stored plan as it was made: its revision, moment, maker, and per
// controller the verified state it was worked out against and its card
// changes as plan_make lists them (compiled again: they are not stored; a
// controller removed since has none and "removed"), and whether it was
// applied. NotFound for an unknown id.
Outcome plan_show(Store& store, int64_t id);

// Drives a sync of the controllers named, waiting for its results: the
// caller's way to reach them (serve's runs, or the command line's own).
struct SyncDone {
    int64_t run = 0;
    std::vector<SyncResult> results;
};
using SyncDriver = std::function<SyncDone(const std::vector<std::string>& names)>;

// Applies the stored plan: moves its controllers' applied revision to the
// plan's, then syncs the controllers that change, each verified by
// read-back. PlanStale when the plan was applied already, or when the policy's
// revision, a controller's verified state or the date at a controller
// moved since the plan was made; Refused for a plan made for another moment
// (--at).
Outcome plan_apply(Store& store, int64_t id, const Actor& actor, const SyncDriver& sync);

// A plan for now of every controller, applied at once.
Outcome plan_apply_now(Store& store, const Actor& actor, const SyncDriver& sync);

// The outcome of a sync run: a line per controller (and per drift, a PIN
// never shown), the JSON of each result, the worst exit status.
Outcome sync_outcome(const SyncDone& done);

}  // namespace doorlinkd
