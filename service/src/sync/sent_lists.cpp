#include "sync/sent_lists.h"

#include "policy/compile.h"
#include "policy/leavers.h"

namespace doorlinkd {
namespace {

// What went to a controller applied at revision while newest was the newest
// (sent_policy of a policy and itself is that policy), with newest's card
// rows when it was read with them.
Policy sent_at(Store& store, int64_t revision, const PolicyAt& newest) {
    if (revision == newest.revision) return newest.policy;
    return sent_policy(store.policy_at(revision, CardRowsRead::none).policy, newest.policy);
}

}  // namespace

SentLists::Shared SentLists::applied_policy(const PolicyAt& newest, int64_t revision) {
    auto found = policies_.find(revision);
    if (found == policies_.end()) {
        found = policies_.emplace(revision, std::make_shared<const Policy>(sent_at(store_, revision, newest)))
                    .first;
    }
    return found->second;
}

SentList SentLists::list_for(const Controller& controller) {
    Shared policy;
    SentList list;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (newest_.revision < 0 || store_.policy_revision() != newest_.revision) {
            newest_ = store_.policy(CardRowsRead::none);
            applied_ = store_.applied_revisions();
            policies_.clear();
        }
        const PolicyAt& newest = newest_;
        const auto applied = applied_.find(controller.name);
        // A controller added since the revisions were read was given the newest.
        const int64_t revision = applied == applied_.end() ? newest.revision : applied->second;
        list.state = VerifiedState{revision, newest.revision, atMs_};
        policy = applied_policy(newest, revision);
    }
    // The rows of the newest revision, which the state names as its leavers'.
    list.cards = compile_cards(*policy, controller, atMs_,
                               store_.controller_cards_at(controller.name, list.state.leavers));
    return list;
}

const Policy& VerifiedPolicies::policy_of(const VerifiedState& state) {
    const std::pair<int64_t, int64_t> key{state.revision, state.leavers};
    auto found = policies_.find(key);
    if (found == policies_.end()) {
        found =
            policies_.emplace(key, sent_at(store_, state.revision, store_.policy_at(state.leavers))).first;
    }
    return found->second;
}

}  // namespace doorlinkd
