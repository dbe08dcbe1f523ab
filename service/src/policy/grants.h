// What a person's groups grant on one controller, and the time ranges that
// come of it for a day.
#pragma once

#include <vector>

#include "model/controller.h"
#include "model/policy.h"

namespace doorlinkd {

// The schedule of that name: one of the policy's, or always or never. Null
// for a name the policy does not have.
const AccessSchedule* find_schedule(const Policy& policy, const std::string& name);

// Whether the grant names the controller, or the site it belongs to.
bool grants_on(const Grant& grant, const Controller& controller);

// The schedules that the person's groups grant on the controller, each
// once. Names the policy does not have grant nothing.
std::vector<const AccessSchedule*> granted_schedules(const Policy& policy, const Person& person,
                                                     const Controller& controller);

// Whether the person's groups grant anything on the controller.
bool is_granted(const Policy& policy, const Person& person, const Controller& controller);

// The union of the schedules' ranges on a weekday, in order, with ranges
// that overlap or touch made one. On a holiday the closed schedules' ranges
// fall away.
std::vector<TimeRange> merged_ranges(const std::vector<const AccessSchedule*>& schedules, int weekday,
                                     bool holiday);

}  // namespace doorlinkd
