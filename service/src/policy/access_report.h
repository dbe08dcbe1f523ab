// Who may enter where and when, worked out as the compiler works out the
// records a controller holds (compile.h): for a report people read rather
// than a list a controller is sent.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "model/controller.h"
#include "model/policy.h"
#include "policy/calendar.h"

namespace doorlinkd {

// One local day of a person's access on a controller.
struct AccessDay {
    LocalDay day;
    bool holiday = false;   // a holiday of the controller's site
    bool admitted = false;  // active, with cards, valid on the date (admits_on)
    // The ranges the controller opens to their cards on that day: empty
    // when not admitted.
    std::vector<TimeRange> ranges;
};

// The person's access on the controller on each of count local days, from
// the date of atMs in the controller's zone on: each day's ranges are those
// of that weekday in the records compiled on that day. Empty when their
// groups grant the controller nothing.
std::vector<AccessDay> access_days(const Policy& policy, const Person& person, const Controller& controller,
                                   int64_t atMs, int count);

// A person who may enter a controller, and the ranges of each weekday.
struct EntryAccess {
    const Person* person = nullptr;
    std::array<std::vector<TimeRange>, kDays> days;      // on a day that is no holiday
    std::array<std::vector<TimeRange>, kDays> holidays;  // on a holiday of the controller's site
};

// The people whose groups grant the controller anything, active, with
// cards and whose validity has not ended by the date of atMs in the
// controller's zone (one valid only later is among them), in the policy's
// order.
std::vector<EntryAccess> entry_access(const Policy& policy, const Controller& controller, int64_t atMs);

}  // namespace doorlinkd
