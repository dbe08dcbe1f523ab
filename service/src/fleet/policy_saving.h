// One save of the policy: the change worked out on the policy read now, the
// whole policy it leaves checked, and saved on the revision it was read at.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fleet/json_forms.h"
#include "fleet/policy_operations.h"
#include "policy/changes.h"

namespace doorlinkd {

// The change to make of the policy at a revision; throws to refuse it.
using PolicyChange = std::function<PolicyEdit(const PolicyAt&)>;
// Throws the refusal of a changed policy's problems (never returns).
using ProblemsRefusal = std::function<void(const std::vector<PolicyProblem>&)>;

// Saves change's edit once the policy it leaves passes every check on the
// controllers now (refused by refuse, or as one Refused naming the first
// problems); works it out again when someone saved meanwhile. Returns the
// new revision.
int64_t save_checked(Store& store, const PolicyChange& change, const ProblemsRefusal& refuse = nullptr);

// The audit entry of a change to target: action "person change" and the like.
AuditEntry policy_audit(const Actor& actor, const std::string& action, const std::string& target,
                        const std::string& detail);

// The revision a change is made on: the one given, else the saved one.
int64_t made_on(const std::optional<int64_t>& given, int64_t saved);

// Names for a refusal: the first few, and how many more.
std::string some_names(const std::vector<std::string>& names);

// Where each kind of value goes in an edit.
inline void put_into(PolicyEdit& edit, AccessSchedule value) { edit.schedules.push_back(std::move(value)); }
inline void put_into(PolicyEdit& edit, Holiday value) { edit.holidays.push_back(std::move(value)); }
inline void put_into(PolicyEdit& edit, Group value) { edit.groups.push_back(std::move(value)); }
inline void put_into(PolicyEdit& edit, Person value) { edit.people.push_back(std::move(value)); }

// Adds or changes one value, audited as action on target: change works out,
// from the policy read now, the value to put (with the revision it was made
// on) and the one it replaces (null: none). The outcome shows the value as
// saved, "verb LINE".
template <typename Value, typename Change, typename Line>
Outcome save_value(Store& store, const Actor& actor, const std::string& action, const std::string& target,
                   const std::string& verb, const Change& change, const Line& line) {
    Value saved;
    const int64_t revision = save_checked(store, [&](const PolicyAt& at) {
        const std::pair<Value, const Value*> made = change(at);
        PolicyEdit edit;
        edit.audit.push_back(policy_audit(actor, action, target, changes_of(made.second, &made.first)));
        saved = made.first;
        put_into(edit, made.first);
        return edit;
    });
    saved.revision = revision;
    return success(to_json(saved), verb + " " + line(saved));
}

// The outcome of a list: {key: [JSON of each]} and a line each.
template <typename Value, typename Line>
Outcome listed(const std::vector<Value>& values, const char* key, Line line) {
    Outcome outcome;
    Json list = Json::array();
    for (const Value& value : values) {
        list.push_back(to_json(value));
        outcome.lines.push_back(line(value));
    }
    outcome.json[key] = list;
    return outcome;
}

}  // namespace doorlinkd
