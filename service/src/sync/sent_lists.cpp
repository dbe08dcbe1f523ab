#include "sync/sent_lists.h"

#include "policy/compile.h"
#include "policy/leavers.h"

namespace doorlinkd {

SentLists::Shared SentLists::applied_policy(int64_t revision) {
    auto found = policies_.find(revision);
    if (found == policies_.end()) {
        Policy applied = revision == newest_->revision ? newest_->policy : store_.policy_at(revision).policy;
        found = policies_
                    .emplace(revision,
                             std::make_shared<const Policy>(sent_policy(std::move(applied), newest_->policy)))
                    .first;
    }
    return found->second;
}

SentList SentLists::list_for(const Controller& controller) {
    Shared policy;
    SentList list;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!newest_ || store_.policy_revision() != newest_->revision) {
            newest_ = store_.policy();
            applied_ = store_.applied_revisions();
            policies_.clear();
        }
        const auto applied = applied_.find(controller.name);
        // A controller added since the revisions were read was given the newest.
        const int64_t revision = applied == applied_.end() ? newest_->revision : applied->second;
        list.state = VerifiedState{revision, newest_->revision, atMs_};
        policy = applied_policy(revision);
    }
    list.cards = compile_cards(*policy, controller, atMs_);
    return list;
}

const Policy& VerifiedPolicies::policy_of(const VerifiedState& state) {
    const std::pair<int64_t, int64_t> key{state.revision, state.leavers};
    auto found = policies_.find(key);
    if (found == policies_.end()) {
        Policy policy = store_.policy_at(state.revision).policy;
        if (state.leavers != state.revision) {
            policy = sent_policy(std::move(policy), store_.policy_at(state.leavers).policy);
        }
        found = policies_.emplace(key, std::move(policy)).first;
    }
    return found->second;
}

}  // namespace doorlinkd
