#include "fleet/policy_saving.h"

#include "policy/edit.h"
#include "policy/problems.h"
#include "zones/policy_clock.h"

namespace doorlinkd {
namespace {

// Saves raced by other writers are worked out again this often before the
// last one's Stale is given up to the caller.
constexpr int kSaveAttempts = 5;
constexpr size_t kNamedProblems = 5;

[[noreturn]] void refuse_problems(const std::vector<PolicyProblem>& problems) {
    std::string text = "the policy would not hold: ";
    for (size_t i = 0; i < problems.size() && i < kNamedProblems; ++i) {
        text += (i == 0 ? "" : "; ") + problems[i].message;
    }
    if (problems.size() > kNamedProblems)
        text += "; and " + std::to_string(problems.size() - kNamedProblems) + " more";
    throw Refused(text);
}

}  // namespace

int64_t save_checked(Store& store, const PolicyChange& change, const ProblemsRefusal& refuse) {
    for (int attempt = 1;; ++attempt) {
        const PolicyAt at = store.policy();
        PolicyEdit edit = change(at);
        if (edit.audit.empty()) return at.revision;  // every change is audited: none, nothing to save
        edit.basedOn = at.revision;
        const std::vector<PolicyProblem> problems =
            policy_problems(edited_policy(at.policy, edit), store.controllers(), policy_now_ms());
        if (!problems.empty()) {
            if (refuse) refuse(problems);
            refuse_problems(problems);
        }
        try {
            return store.save_policy(edit);
        } catch (const PolicyMoved&) {
            if (attempt == kSaveAttempts) throw;
        }
    }
}

AuditEntry policy_audit(const Actor& actor, const std::string& action, const std::string& target,
                        const std::string& detail) {
    AuditEntry entry;
    entry.who = actor.who;
    entry.address = actor.address;
    entry.action = action;
    entry.target = target;
    entry.result = "ok";
    entry.detail = detail;
    return entry;
}

int64_t made_on(const std::optional<int64_t>& given, int64_t saved) { return given ? *given : saved; }

std::string some_names(const std::vector<std::string>& names) {
    constexpr size_t kNamed = 10;
    std::string text;
    for (size_t i = 0; i < names.size() && i < kNamed; ++i) text += (i == 0 ? "" : ", ") + names[i];
    if (names.size() > kNamed) text += " and " + std::to_string(names.size() - kNamed) + " more";
    return text;
}

}  // namespace doorlinkd
