#include "policy/grants.h"

#include <algorithm>

namespace doorlinkd {
namespace {

const AccessSchedule& always_schedule() {
    static const AccessSchedule kAlways = [] {
        AccessSchedule schedule{kAlwaysSchedule, {}, HolidayMode::open};
        for (auto& day : schedule.days) day.push_back({0, kMinutesPerDay});
        return schedule;
    }();
    return kAlways;
}

const AccessSchedule& never_schedule() {
    static const AccessSchedule kNever{kNeverSchedule, {}, HolidayMode::open};
    return kNever;
}

const Group* find_group(const Policy& policy, const std::string& name) {
    const auto found = std::find_if(policy.groups.begin(), policy.groups.end(),
                                    [&](const Group& group) { return group.name == name; });
    return found == policy.groups.end() ? nullptr : &*found;
}

}  // namespace

const AccessSchedule* find_schedule(const Policy& policy, const std::string& name) {
    const auto found = std::find_if(policy.schedules.begin(), policy.schedules.end(),
                                    [&](const AccessSchedule& schedule) { return schedule.name == name; });
    if (found != policy.schedules.end()) return &*found;
    if (name == kAlwaysSchedule) return &always_schedule();
    if (name == kNeverSchedule) return &never_schedule();
    return nullptr;
}

bool grants_on(const Grant& grant, const Controller& controller) {
    if (grant.controllers.empty()) return grant.site == controller.site;
    return std::find(grant.controllers.begin(), grant.controllers.end(), controller.name) !=
           grant.controllers.end();
}

std::vector<const AccessSchedule*> granted_schedules(const Policy& policy, const Person& person,
                                                     const Controller& controller) {
    std::vector<const AccessSchedule*> schedules;
    for (const std::string& groupName : person.groups) {
        const Group* group = find_group(policy, groupName);
        if (group == nullptr) continue;
        for (const Grant& grant : group->grants) {
            const AccessSchedule* schedule = find_schedule(policy, grant.schedule);
            if (schedule == nullptr || !grants_on(grant, controller)) continue;
            if (std::find(schedules.begin(), schedules.end(), schedule) == schedules.end()) {
                schedules.push_back(schedule);
            }
        }
    }
    return schedules;
}

bool is_granted(const Policy& policy, const Person& person, const Controller& controller) {
    return !granted_schedules(policy, person, controller).empty();
}

std::vector<TimeRange> merged_ranges(const std::vector<const AccessSchedule*>& schedules, int weekday,
                                     bool holiday) {
    std::vector<TimeRange> ranges;
    for (const AccessSchedule* schedule : schedules) {
        if (holiday && schedule->holidays == HolidayMode::closed) continue;
        const auto& day = schedule->days.at(static_cast<size_t>(weekday));
        ranges.insert(ranges.end(), day.begin(), day.end());
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const TimeRange& a, const TimeRange& b) { return a.from < b.from; });
    std::vector<TimeRange> merged;
    for (const TimeRange& range : ranges) {
        if (range.from >= range.to) continue;  // empty: grants no minute
        if (!merged.empty() && range.from <= merged.back().to) {
            merged.back().to = std::max(merged.back().to, range.to);
        } else {
            merged.push_back(range);
        }
    }
    return merged;
}

}  // namespace doorlinkd
