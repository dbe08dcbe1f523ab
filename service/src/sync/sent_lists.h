// The lists that go to the controllers: each compiled from its applied
// revision of the policy, with the leavers of the newest revision taken out
// and the newest card rows (policy/leavers.h sent_policy), for one moment.
// The policies of the revisions in use are read once, without card rows;
// the threads of a run share one. Each controller's card rows are read for
// its list alone, so that a run holds the rows of the controllers it syncs
// at the moment, not those of the whole fleet.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "model/card.h"
#include "model/controller.h"
#include "model/policy.h"
#include "store/store.h"

namespace doorlinkd {

struct SentList {
    std::vector<Card> cards;  // in card order
    VerifiedState state;      // what a read-back showing exactly these cards verifies
};

class SentLists {
public:
    SentLists(Store& store, int64_t atMs) : store_(store), atMs_(atMs) {}

    // What the controller is to hold now. Asks the database for the policy's
    // revision each time, and reads the policy again when it moved: a leaver
    // saved while a run goes on is left out of every list sent after the save.
    SentList list_for(const Controller& controller);

private:
    using Shared = std::shared_ptr<const Policy>;                     // as sent, without card rows
    Shared applied_policy(const PolicyAt& newest, int64_t revision);  // under mutex_

    Store& store_;
    const int64_t atMs_;
    std::mutex mutex_;
    PolicyAt newest_{{}, -1};  // revision -1: not read yet
    std::map<std::string, int64_t> applied_;
    std::map<int64_t, Shared> policies_;  // applied revisions without the leavers of newest_
};

// The policies controllers were verified at (what was sent at a state's
// revision while its leavers' revision was the newest), each read once.
class VerifiedPolicies {
public:
    explicit VerifiedPolicies(Store& store) : store_(store) {}
    const Policy& policy_of(const VerifiedState& state);

private:
    Store& store_;
    std::map<std::pair<int64_t, int64_t>, Policy> policies_;  // by (revision, leavers)
};

}  // namespace doorlinkd
