#include "policy/leavers.h"

#include <algorithm>
#include <map>

namespace doorlinkd {
namespace {

std::map<std::string, const Person*> people_by_id(const Policy& policy) {
    std::map<std::string, const Person*> byId;
    for (const Person& person : policy.people) byId.emplace(person.id, &person);
    return byId;
}

// Whether later's validity ends before earlier's does.
bool ends_earlier(const Person& later, const Person& earlier) {
    return later.validUntil && (!earlier.validUntil || *later.validUntil < *earlier.validUntil);
}

}  // namespace

Policy without_leavers(Policy applied, const Policy& newest) {
    const std::map<std::string, const Person*> newer = people_by_id(newest);
    for (Person& person : applied.people) {
        const auto found = newer.find(person.id);
        if (found == newer.end() || !found->second->active) {
            person.active = false;
        } else if (ends_earlier(*found->second, person)) {
            person.validUntil = found->second->validUntil;
        }
    }
    return applied;
}

Policy sent_policy(Policy applied, const Policy& newest) {
    Policy sent = without_leavers(std::move(applied), newest);
    sent.cards = newest.cards;
    return sent;
}

std::vector<std::string> new_leavers(const Policy& before, const Policy& after) {
    const std::map<std::string, const Person*> later = people_by_id(after);
    std::vector<std::string> leavers;
    for (const Person& person : before.people) {
        if (!person.active) continue;
        const auto found = later.find(person.id);
        if (found == later.end() || !found->second->active || ends_earlier(*found->second, person)) {
            leavers.push_back(person.id);
        }
    }
    std::sort(leavers.begin(), leavers.end());
    return leavers;
}

}  // namespace doorlinkd
