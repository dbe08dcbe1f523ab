// Leavers shut out: when a revision ends people's access (disabled, removed,
// valid until an earlier date), their cards leave every controller that held
// them at once, whatever revision each controller was applied, ahead of any
// other run: each such controller gets its whole list downloaded (no export
// removes one card) and read back, and every confirmation is audited.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet/outcome.h"
#include "fleet/plan_operations.h"
#include "leases/lease_keeper.h"
#include "library/data_dir.h"
#include "model/access.h"
#include "store/store.h"
#include "sync/turns.h"

namespace doorlinkd {

struct LeaverRemoval {
    std::vector<std::string> people;       // the leavers' ids, in id order
    int64_t revision = 0;                  // the revision that made them leavers
    std::vector<std::string> controllers;  // where their cards may be held
    SyncDone done;                         // each of those controllers' sync
};

// The controllers where the people's cards may be held: those whose groups
// grant them anything under before (the policy before they left) or under
// any controller's applied revision. In name order.
std::vector<Controller> holding_controllers(Store& store, const Policy& before,
                                            const std::vector<std::string>& people);

// Finds the leavers between before and newest and removes their cards from
// the controllers that may hold them (none: nothing is driven), as an
// urgent sync run of `self` (which turns may be null for a process that runs
// nothing else). The removal of each controller is audited as confirmed by
// read-back, or not. Only the people of before and newest are read: they may
// be read without card rows (CardRowsRead::none).
LeaverRemoval remove_leavers(Store& store, LeaseKeeper& leases, const DataDir& dataDir, const Policy& before,
                             const PolicyAt& newest, ControllerTurns* turns, int parallel, const Actor& self);

// Its outcome: a line per controller, confirmed or not (exit as a sync's).
Outcome leaver_outcome(const LeaverRemoval& removal);

}  // namespace doorlinkd
