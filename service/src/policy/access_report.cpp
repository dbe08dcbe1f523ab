#include "policy/access_report.h"

#include "policy/compile.h"
#include "policy/grants.h"

namespace doorlinkd {

std::vector<AccessDay> access_days(const Policy& policy, const Person& person, const Controller& controller,
                                   int64_t atMs, int count) {
    const std::vector<const AccessSchedule*> schedules = granted_schedules(policy, person, controller);
    if (schedules.empty()) return {};
    const LocalDay today = local_day(atMs, controller.zone);
    std::vector<AccessDay> days;
    for (int i = 0; i < count; ++i) {
        AccessDay access;
        access.day = LocalDay{days_after(today.date, i), (today.weekday + i) % kDays};
        access.holiday = is_holiday(policy.holidays, controller.site, access.day.date);
        access.admitted = admits_on(person, access.day.date);
        if (access.admitted) access.ranges = merged_ranges(schedules, access.day.weekday, access.holiday);
        days.push_back(std::move(access));
    }
    return days;
}

std::vector<EntryAccess> entry_access(const Policy& policy, const Controller& controller, int64_t atMs) {
    const CalendarDate today = local_day(atMs, controller.zone).date;
    std::vector<EntryAccess> entries;
    for (const Person& person : policy.people) {
        if (!person.active || person.cards.empty() || has_ended(person, today)) continue;
        const std::vector<const AccessSchedule*> schedules = granted_schedules(policy, person, controller);
        if (schedules.empty()) continue;
        EntryAccess entry;
        entry.person = &person;
        for (int weekday = 0; weekday < kDays; ++weekday) {
            entry.days.at(static_cast<size_t>(weekday)) = merged_ranges(schedules, weekday, false);
            entry.holidays.at(static_cast<size_t>(weekday)) = merged_ranges(schedules, weekday, true);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace doorlinkd
