// The access report of one person over a week, checked day by day against
// the records the compiler gives a controller on that day: across a
// holiday, past the end of the person's validity, and on a controller
// whose site's zone is on another date at that moment.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "policy/access_report.h"
#include "policy/compile.h"
#include "policy_values.h"
#include "utc_text.h"

namespace doorlinkd::policy_testing::access_report {
namespace {

constexpr int64_t kDayMs = int64_t{24} * 60 * 60 * 1000;

const Controller kBerlinDoor = controller("hq-door1", "hq", "Europe/Berlin");
const Controller kNewYorkDoor = controller("ny-door1", "ny", "America/New_York");

// 00:30 on Thursday 2026-12-24 in Berlin, 18:30 on Wednesday 2026-12-23 in
// New York. No clock changes in the week after it.
const int64_t kChristmasEveNight = utc_ms("202612232330");

Policy week_policy() {
    Policy policy;
    policy.schedules = {weekly("office", HolidayMode::closed, {1, 2, 3, 4, 5}, {span(700, 1900)}),
                        weekly("lobby", HolidayMode::open, {0, 1, 2, 3, 4, 5, 6}, {span(600, 700)})};
    policy.holidays = {Holiday{"hq", {2025, 12, 25}, true, 0}, Holiday{"ny", {2026, 12, 24}, false, 0}};
    policy.groups = {
        Group{"staff", {on_site("office", "hq"), on_site("lobby", "hq"), on_site("office", "ny")}, 0}};
    Person person = policy_testing::person("e1", {"staff"}, {"00100001"});
    person.validUntil = CalendarDate{2026, 12, 28};
    policy.people = {person};
    return policy;
}

struct Expected {
    std::string date;
    bool holiday;
    bool admitted;
    std::vector<TimeRange> ranges;
};

void expect_week(const Policy& policy, const Controller& door, const std::vector<Expected>& expected) {
    const std::vector<AccessDay> days = access_days(policy, policy.people.at(0), door, kChristmasEveNight, 7);
    ASSERT_EQ(days.size(), expected.size());
    for (size_t i = 0; i < days.size(); ++i) {
        const AccessDay& day = days[i];
        SCOPED_TRACE(door.name + " " + expected[i].date);
        EXPECT_EQ(date_text(day.day.date), expected[i].date);
        EXPECT_EQ(day.holiday, expected[i].holiday);
        EXPECT_EQ(day.admitted, expected[i].admitted);
        EXPECT_EQ(day.ranges, expected[i].ranges);

        // What the compiler sends on that day says the same.
        const std::vector<Card> records =
            compile_cards(policy, door, kChristmasEveNight + static_cast<int64_t>(i) * kDayMs);
        const auto record = std::find_if(records.begin(), records.end(),
                                         [](const Card& card) { return card.card == "00100001"; });
        ASSERT_EQ(record != records.end(), day.admitted);
        if (day.admitted) {
            EXPECT_EQ(record->days.at(static_cast<size_t>(day.day.weekday)), compiled_day_text(day.ranges));
        }
    }
}

TEST(AccessReport, AWeekAcrossAHolidayAndTheEndOfValidityIsWhatTheCompilerSendsEachDay) {
    const Policy policy = week_policy();
    const std::vector<TimeRange> workday = {span(600, 1900)};  // the lobby's hour joins the office's
    const std::vector<TimeRange> lobby = {span(600, 700)};
    expect_week(policy, kBerlinDoor,
                {{"2026-12-24", false, true, workday},
                 {"2026-12-25", true, true, lobby},  // yearly: the office is closed
                 {"2026-12-26", false, true, lobby},
                 {"2026-12-27", false, true, lobby},
                 {"2026-12-28", false, true, workday},  // the last valid day
                 {"2026-12-29", false, false, {}},
                 {"2026-12-30", false, false, {}}});
    // New York's day is still the 23rd; its holiday is the 24th.
    const std::vector<TimeRange> office = {span(700, 1900)};
    expect_week(policy, kNewYorkDoor,
                {{"2026-12-23", false, true, office},
                 {"2026-12-24", true, true, {}},
                 {"2026-12-25", false, true, office},
                 {"2026-12-26", false, true, {}},
                 {"2026-12-27", false, true, {}},
                 {"2026-12-28", false, true, office},
                 {"2026-12-29", false, false, {}}});
}

TEST(AccessReport, WhoMayEnterLeavesOutThoseWhoseValidityEndedThere) {
    const Policy policy = week_policy();
    const int64_t afterTheEnd = utc_ms("202612290100");  // the 29th in Berlin, still the 28th in New York
    EXPECT_TRUE(entry_access(policy, kBerlinDoor, afterTheEnd).empty());
    const std::vector<EntryAccess> entries = entry_access(policy, kNewYorkDoor, afterTheEnd);
    ASSERT_EQ(entries.size(), 1U);
    EXPECT_EQ(entries[0].days.at(1), (std::vector<TimeRange>{span(700, 1900)}));
    EXPECT_TRUE(entries[0].holidays.at(1).empty());  // office closes on a holiday
}

}  // namespace
}  // namespace doorlinkd::policy_testing::access_report
