// A run of sync over many controllers: each on a thread of the run, under
// its lease, in a list number of its own.
#include <algorithm>

#include "common/parallel.h"
#include "sync/controller_sync.h"
#include "sync/list_numbers.h"
#include "sync/sync.h"

namespace doorlinkd {
namespace {

SyncResult busy(const Controller& controller, int cards, const std::string& message) {
    SyncResult result;
    result.controller = controller.name;
    result.status = SyncStatus::Busy;
    result.cards = cards;
    result.message = message;
    return result;
}

SyncResult sync_under_lease(LeaseKeeper& leases, ListNumbers& lists, const DataDir& dataDir,
                            const Controller& controller, const std::vector<Card>& cards, bool checkOnly) {
    const int count = static_cast<int>(cards.size());
    if (!leases.take(controller)) return busy(controller, count, leases.held_elsewhere(controller));
    HeldLease lease(leases, controller.name);
    SyncResult result;
    try {
        const BorrowedList list(lists);
        result = sync_controller(controller, cards, dataDir, list.number(), checkOnly,
                                 [&] { leases.check(controller.name); });
    } catch (const LeaseLost& lost) {
        // Another process may drive the controller now: it is left alone,
        // perhaps with a list half downloaded, for a later sync to finish.
        result = busy(controller, count, std::string("lease lost: ") + lost.what());
    }
    return result;
}

}  // namespace

std::vector<SyncResult> sync_controllers(Store& store, LeaseKeeper& leases, const DataDir& dataDir,
                                         const std::vector<Controller>& controllers,
                                         const SyncOptions& options) {
    const std::vector<Card> all = store.cards();
    const int64_t run =
        options.run != 0 ? options.run : store.begin_sync_run(leases.owner(), options.checkOnly);
    const CardsByController byController(all);
    std::vector<SyncResult> results(controllers.size());
    ListNumbers lists;
    run_in_parallel(controllers.size(), std::clamp(options.parallel, 1, kListNumbers), [&](size_t i) {
        results[i] = sync_under_lease(leases, lists, dataDir, controllers[i],
                                      byController.cards_for(controllers[i].name), options.checkOnly);
        store.store_sync_result(run, results[i]);
    });
    return results;
}

}  // namespace doorlinkd
