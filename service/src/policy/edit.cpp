#include "policy/edit.h"

#include <algorithm>

namespace doorlinkd {
namespace {

template <typename Value, typename Same>
void erase_if(std::vector<Value>& values, Same same) {
    values.erase(std::remove_if(values.begin(), values.end(), same), values.end());
}

template <typename Value, typename Key>
void put(std::vector<Value>& values, const Value& value, Key key) {
    const auto found = std::find_if(values.begin(), values.end(),
                                    [&](const Value& saved) { return key(saved) == key(value); });
    if (found == values.end()) {
        values.push_back(value);
    } else {
        *found = value;
    }
}

bool removed(const std::vector<Removal>& removals, const std::string& name) {
    return std::any_of(removals.begin(), removals.end(), [&](const Removal& r) { return r.name == name; });
}

}  // namespace

Policy edited_policy(Policy policy, const PolicyEdit& edit) {
    erase_if(policy.people, [&](const Person& person) {
        return removed(edit.removedPeople, person.id) || removed(edit.erasedPeople, person.id);
    });
    erase_if(policy.groups, [&](const Group& group) { return removed(edit.removedGroups, group.name); });
    erase_if(policy.schedules,
             [&](const AccessSchedule& schedule) { return removed(edit.removedSchedules, schedule.name); });
    erase_if(policy.holidays, [&](const Holiday& holiday) {
        return std::any_of(
            edit.removedHolidays.begin(), edit.removedHolidays.end(),
            [&](const Holiday& gone) { return gone.site == holiday.site && gone.date == holiday.date; });
    });
    for (const AccessSchedule& schedule : edit.schedules) {
        put(policy.schedules, schedule, [](const AccessSchedule& s) { return s.name; });
    }
    for (const Holiday& holiday : edit.holidays) {
        put(policy.holidays, holiday, [](const Holiday& h) { return std::make_pair(h.site, h.date); });
    }
    for (const Group& group : edit.groups) put(policy.groups, group, [](const Group& g) { return g.name; });
    for (const Person& person : edit.people) put(policy.people, person, [](const Person& p) { return p.id; });
    return policy;
}

}  // namespace doorlinkd
