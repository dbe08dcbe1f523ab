// Sync: every controller is to hold exactly its cards from the database.
// Each controller's list is read back and compared card by card and field
// by field; a controller out of step gets its list downloaded, read back and
// compared again.
#pragma once

#include <string>
#include <vector>

#include "leases/lease_keeper.h"
#include "library/data_dir.h"
#include "model/card.h"
#include "model/controller.h"
#include "model/sync_result.h"
#include "store/store.h"

namespace doorlinkd {

struct SyncOptions {
    bool checkOnly = false;  // read back and compare only
    int parallel = 4;        // controllers synced at once (at most 256)
};

// Syncs the controllers in parallel, each under its lease (a controller
// whose lease another owner holds is Busy); stores every result with a new
// run and returns them in the order of `controllers`.
std::vector<SyncResult> sync_controllers(Store& store, LeaseKeeper& leases, const DataDir& dataDir,
                                         const std::vector<Controller>& controllers,
                                         const SyncOptions& options);

// The cards of the database that go to the controller, in card order.
std::vector<Card> cards_for(const std::vector<Card>& all, const Controller& controller);

// The differences between the database's cards for a controller (in card
// order) and what it holds (in its order). Extra cards count only on
// controllers with long records. A card held twice, and a list out of card
// order, are drift too.
std::vector<Drift> compare_cards(const std::vector<Card>& database, const std::vector<Card>& held,
                                 bool longRecords);

}  // namespace doorlinkd
