// Sync: every controller is to hold exactly the list compiled for it now
// from its applied revision of the policy, the leavers of the newest taken
// out. Each controller's list is read back and compared card by card and
// field by field; a controller out of step gets its list downloaded, read
// back and compared again. A read-back that shows the list records the
// state it verified; one that shows another list forgets the state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "leases/lease_keeper.h"
#include "library/data_dir.h"
#include "model/card.h"
#include "model/controller.h"
#include "model/sync_result.h"
#include "store/store.h"
#include "sync/turns.h"

namespace doorlinkd {

struct SyncOptions {
    bool checkOnly = false;  // read back and compare only
    bool replace = false;    // download at once, without reading back first
    int parallel = 4;        // controllers synced at once (at most 256)
    int64_t run = 0;         // the run the results are stored with; 0: one begun now
    int64_t atMs = 0;        // the moment the lists are compiled for
    // The process's turns at the controllers' lists; none: this run is the
    // process's only one. An urgent run (a leaver's removal) goes first and
    // never gives way; any other gives way to it.
    ControllerTurns* turns = nullptr;
    bool urgent = false;
};

// Syncs the controllers in parallel, each under its lease (a controller
// whose lease another owner holds is Busy, its message naming the owner), in a
// list number of its own; stores every result with the run (a new one
// unless options.run names one begun before) as it finishes, and returns
// them in the order of `controllers`. The lease is checked before every
// export call: a lease found lost makes the controller Busy ("lease lost:
// ..."), left alone at once, perhaps with its list half downloaded. A
// failed download or read-back makes it Unreachable, the message naming the
// step. A StoreError (the database, or the library's files) ends the run:
// no further controller starts, and it is thrown once every thread has
// ended and its lease is released.
std::vector<SyncResult> sync_controllers(Store& store, LeaseKeeper& leases, const DataDir& dataDir,
                                         const std::vector<Controller>& controllers,
                                         const SyncOptions& options);

// The differences between the database's cards for a controller (in card
// order) and what it holds (in its order), in card order; per card:
// - a card the controller lacks: {card, "card", card, none};
// - a card the database does not hold for it: {card, "card", none, card};
// - a card held more than once: {card, "card", card or none, "held N times"},
//   its fields not compared;
// - a card below the one the controller holds before it (the list is out of
//   card order): {card, "card", card or none, kOutOfCardOrder};
// - a card held once: a row per differing field with both values as texts
//   (days in the stored form; further cards joined by spaces, compared only
//   on controllers with long records).
std::vector<Drift> compare_cards(const std::vector<Card>& database, const std::vector<Card>& held,
                                 bool longRecords);
inline constexpr const char* kOutOfCardOrder = "out of card order";

}  // namespace doorlinkd
