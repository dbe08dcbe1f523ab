#include "fleet/leaver_removal.h"

#include <algorithm>
#include <map>
#include <set>

#include "fleet/policy_saving.h"
#include "policy/grants.h"
#include "policy/leavers.h"
#include "sync/sync.h"
#include "zones/policy_clock.h"

namespace doorlinkd {
namespace {

// The urgent runs may drive more controllers at once than a scheduled one:
// each waits on its controller most of the time.
constexpr int kLeastUrgentParallel = 16;

// The people of the policy among those named who hold cards.
struct Holders {
    const Policy* policy = nullptr;
    std::vector<const Person*> people;
};

Holders holders_in(const Policy& policy, const std::set<std::string>& named) {
    Holders holders{&policy, {}};
    for (const Person& person : policy.people) {
        if (named.count(person.id) != 0 && !person.cards.empty()) holders.people.push_back(&person);
    }
    return holders;
}

bool grants_any(const Holders& holders, const Controller& controller) {
    return std::any_of(holders.people.begin(), holders.people.end(), [&](const Person* person) {
        return is_granted(*holders.policy, *person, controller);
    });
}

}  // namespace

std::vector<Controller> holding_controllers(Store& store, const Policy& before,
                                            const std::vector<std::string>& people) {
    const std::set<std::string> leavers(people.begin(), people.end());
    const std::map<std::string, int64_t> applied = store.applied_revisions();
    const Holders beforeHolders = holders_in(before, leavers);
    std::map<int64_t, Policy> policies;         // the applied revisions read
    std::map<int64_t, Holders> appliedHolders;  // their holders, found once each
    std::vector<Controller> holding;
    for (const Controller& controller : store.controllers()) {
        bool holds = grants_any(beforeHolders, controller);
        const auto revision = applied.find(controller.name);
        if (!holds && revision != applied.end()) {
            auto found = appliedHolders.find(revision->second);
            if (found == appliedHolders.end()) {
                const Policy& policy =
                    policies
                        .emplace(revision->second,
                                 store.policy_at(revision->second, CardRowsRead::none).policy)
                        .first->second;
                found = appliedHolders.emplace(revision->second, holders_in(policy, leavers)).first;
            }
            holds = grants_any(found->second, controller);
        }
        if (holds) holding.push_back(controller);
    }
    return holding;
}

LeaverRemoval remove_leavers(Store& store, LeaseKeeper& leases, const DataDir& dataDir, const Policy& before,
                             const PolicyAt& newest, ControllerTurns* turns, int parallel,
                             const Actor& self) {
    LeaverRemoval removal;
    removal.revision = newest.revision;
    removal.people = new_leavers(before, newest.policy);
    if (removal.people.empty()) return removal;
    const std::vector<Controller> controllers = holding_controllers(store, before, removal.people);
    for (const Controller& controller : controllers) removal.controllers.push_back(controller.name);
    if (controllers.empty()) return removal;
    SyncOptions options;
    options.replace = true;
    options.urgent = true;
    options.turns = turns;
    options.parallel = std::max(parallel, kLeastUrgentParallel);
    options.atMs = policy_now_ms();
    options.run = store.begin_sync_run(self.who, false);
    removal.done.run = options.run;
    removal.done.results = sync_controllers(store, leases, dataDir, controllers, options);
    const std::string target = join_words(removal.people);
    for (const SyncResult& result : removal.done.results) {
        const bool confirmed = result.status == SyncStatus::Repaired || result.status == SyncStatus::InStep;
        AuditEntry entry =
            policy_audit(self, "leaver removal", target,
                         result.controller +
                             (confirmed ? ": confirmed gone by read-back"
                                        : ": not confirmed (" + std::string(status_name(result.status)) +
                                              (result.message.empty() ? "" : ": " + result.message) + ")"));
        entry.result = confirmed ? "ok" : "not confirmed";
        store.audit(entry);
    }
    return removal;
}

Outcome leaver_outcome(const LeaverRemoval& removal) {
    Outcome outcome = sync_outcome(removal.done);
    outcome.json["leavers"] = removal.people;
    outcome.json["revision"] = removal.revision;
    outcome.lines.insert(outcome.lines.begin(),
                         removal.people.empty()
                             ? std::string("no one left: no controller to change")
                             : "removing the cards of " + join_words(removal.people) + " from " +
                                   std::to_string(removal.controllers.size()) + " controllers");
    return outcome;
}

}  // namespace doorlinkd
