// A run of sync over many controllers: each on a thread of the run, under
// its lease and its turn, in a list number of its own.
#include <algorithm>
#include <optional>

#include "common/parallel.h"
#include "sync/controller_sync.h"
#include "sync/list_numbers.h"
#include "sync/sent_lists.h"
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

ListWork list_work(const SyncOptions& options) {
    if (options.checkOnly) return ListWork::check;
    return options.replace ? ListWork::replace : ListWork::repair;
}

// Syncs the controller and records the state its read-back verified.
SyncResult sync_under_lease(Store& store, LeaseKeeper& leases, ListNumbers& lists, SentLists& sent,
                            const DataDir& dataDir, const Controller& controller,
                            const SyncOptions& options) {
    if (!leases.take(controller)) return busy(controller, 0, leases.held_elsewhere(controller));
    HeldLease lease(leases, controller.name);
    std::optional<ControllerTurns::Turn> turn;
    if (options.turns) turn.emplace(*options.turns, controller.name, options.urgent);
    // After the turn: what a run before this one sent is known, and the
    // policy is read as it is now.
    const SentList list = sent.list_for(controller);
    const int count = static_cast<int>(list.cards.size());
    const auto beforeExport = [&] {
        leases.check(controller.name);
        if (options.turns && !options.urgent) options.turns->give_way_if_asked(controller.name);
    };
    SyncResult result;
    try {
        const BorrowedList borrowed(lists);
        result = sync_controller(controller, list.cards, dataDir, borrowed.number(), list_work(options),
                                 beforeExport);
    } catch (const LeaseLost& lost) {
        // Another process may drive the controller now: it is left alone,
        // perhaps with a list half downloaded, for a later sync to finish.
        return busy(controller, count, std::string("lease lost: ") + lost.what());
    } catch (const GaveWay& gave) {
        return busy(controller, count, gave.what());
    }
    try {
        if (result.status == SyncStatus::InStep || result.status == SyncStatus::Repaired) {
            store.set_verified(controller.name, list.state);
        } else if (result.status == SyncStatus::Drift) {
            store.clear_verified(controller.name);
        }
    } catch (const NotFound&) {
        // Removed while it was synced: there is nothing to keep of it.
    }
    return result;
}

}  // namespace

std::vector<SyncResult> sync_controllers(Store& store, LeaseKeeper& leases, const DataDir& dataDir,
                                         const std::vector<Controller>& controllers,
                                         const SyncOptions& options) {
    const int64_t run =
        options.run != 0 ? options.run : store.begin_sync_run(leases.owner(), options.checkOnly);
    SentLists sent(store, options.atMs);
    std::vector<SyncResult> results(controllers.size());
    ListNumbers lists;
    run_in_parallel(controllers.size(), std::clamp(options.parallel, 1, kListNumbers), [&](size_t i) {
        results[i] = sync_under_lease(store, leases, lists, sent, dataDir, controllers[i], options);
        store.store_sync_result(run, results[i]);
    });
    return results;
}

}  // namespace doorlinkd
