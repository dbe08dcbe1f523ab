// Policies written out by hand for the policy's tests (each in a namespace
// inside this one): schedules, grants, controllers and people in a line each.
#pragma once

#include <string>
#include <vector>

#include "model/controller.h"
#include "model/policy.h"

namespace doorlinkd::policy_testing {

// A range from hhmm to hhmm.
inline TimeRange span(int from, int to) { return {from / 100 * 60 + from % 100, to / 100 * 60 + to % 100}; }

inline AccessSchedule weekly(const std::string& name, HolidayMode mode, const std::vector<int>& weekdays,
                             const std::vector<TimeRange>& ranges) {
    AccessSchedule schedule{name, {}, mode};
    for (const int weekday : weekdays) schedule.days.at(static_cast<size_t>(weekday)) = ranges;
    return schedule;
}

inline Controller controller(const std::string& name, const std::string& site, const std::string& zone) {
    Controller c;
    c.name = name;
    c.site = site;
    c.zone = zone;
    return c;
}

inline Grant on_site(const std::string& schedule, const std::string& site) { return {schedule, site, {}}; }
inline Grant on_controller(const std::string& schedule, const std::string& name) {
    return {schedule, "", {name}};
}

// A person named "Person ID" with the cards given, each of serial 123456
// and PIN 654321.
inline Person person(const std::string& id, const std::vector<std::string>& groups,
                     const std::vector<std::string>& cards) {
    Person p;
    p.id = id;
    p.name = "Person " + id;
    p.groups = groups;
    for (const std::string& card : cards) p.cards.push_back({card, "123456", "654321"});
    return p;
}

}  // namespace doorlinkd::policy_testing
