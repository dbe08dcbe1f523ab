// The policy compiled for one controller at one moment, against records
// written out by hand. The European Union's clocks change at 01:00 UTC on the
// last Sunday of March (2026-03-29), the United States' at 02:00 local time
// on the second Sunday of March (2026-03-08).
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "cards/day_text.h"
#include "model/policy.h"
#include "policy/compile.h"
#include "policy/problems.h"
#include "policy_values.h"
#include "utc_text.h"

namespace doorlinkd::policy_testing::golden {
namespace {

constexpr int kSunday = 0;
constexpr int kMonday = 1;
constexpr int kTuesday = 2;
constexpr int kThursday = 4;
constexpr int kFriday = 5;

const std::vector<int> kEveryDay = {0, 1, 2, 3, 4, 5, 6};
const std::vector<int> kWorkdays = {1, 2, 3, 4, 5};

const Controller kBerlinDoor = controller("hq-door1", "hq", "Europe/Berlin");
const Controller kBerlinGate = controller("hq-door2", "hq", "Europe/Berlin");
const Controller kNewYorkDoor = controller("ny-door1", "ny", "America/New_York");

using Days = std::array<std::string, kDays>;

// A compiled record of a person's card made by person().
Card record(const std::string& card, const Days& days, int userStyle = 1, int openStyle = 2) {
    Card c;
    c.card = card;
    c.serial = "123456";
    c.password = "654321";
    c.userStyle = userStyle;
    c.openStyle = openStyle;
    c.days = days;
    return c;
}

Days same_days(const std::string& text, const std::vector<int>& weekdays) {
    Days days;
    for (const int weekday : weekdays) days.at(static_cast<size_t>(weekday)) = text;
    return days;
}

Days with_day(Days days, int weekday, const std::string& text) {
    days.at(static_cast<size_t>(weekday)) = text;
    return days;
}

const int64_t kWednesdayNoon = utc_ms("202612091100");  // 12:00 in Berlin

TEST(PolicyCompile, MergesOverlappingAndTouchingRangesUpToEightADay) {
    Policy policy;
    policy.schedules = {
        weekly("early", HolidayMode::open, {kMonday}, {span(700, 1200), span(1400, 1600)}),
        weekly("late", HolidayMode::open, {kMonday}, {span(1100, 1300), span(1600, 1800), span(2000, 2400)}),
        weekly("odd", HolidayMode::open, {kTuesday},
               {span(100, 200), span(300, 400), span(500, 600), span(700, 800), span(900, 1000)}),
        weekly("even", HolidayMode::open, {kTuesday},
               {span(1100, 1200), span(1300, 1400), span(1500, 1600), span(1000, 1100), span(1700, 1800)})};
    policy.groups = {
        {"staff",
         {on_site("early", "hq"), on_site("late", "hq"), on_site("odd", "hq"), on_site("even", "hq")}}};
    policy.people = {person("p1", {"staff"}, {"00100001"})};

    const std::string tuesday =
        "0100-0200-01;0300-0400-01;0500-0600-01;0700-0800-01;0900-1200-01;1300-1400-01;"
        "1500-1600-01;1700-1800-01;";
    Days days = with_day(Days{}, kMonday, "0700-1300-01;1400-1800-01;2000-2359-01;");
    days = with_day(days, kTuesday, tuesday);
    EXPECT_EQ(compile_cards(policy, kBerlinDoor, kWednesdayNoon),
              std::vector<Card>{record("00100001", days)});
    EXPECT_TRUE(policy_problems(policy, {kBerlinDoor}, kWednesdayNoon).empty());

    // 10:00-11:00 cut to 10:00-10:30 no longer touches 11:00: 9 ranges on Tuesday.
    policy.schedules[3].days.at(kTuesday)[3] = span(1000, 1030);
    const std::vector<PolicyProblem> problems =
        policy_problems(policy, {kBerlinDoor, kNewYorkDoor}, kWednesdayNoon);
    ASSERT_EQ(problems.size(), 1U);
    EXPECT_EQ(problems[0].kind, PolicyProblemKind::tooManyRanges);
    EXPECT_EQ(problems[0].person, "p1");
    EXPECT_EQ(problems[0].controller, "hq-door1");
    EXPECT_EQ(problems[0].day, kTuesday);
    EXPECT_EQ(problems[0].message, "person p1 has more than 8 ranges on Tuesday on controller hq-door1");
}

TEST(PolicyCompile, ClosedSchedulesFallAwayOnTheHolidaysWeekdayOnly) {
    Policy policy;
    policy.schedules = {weekly("office", HolidayMode::closed, kWorkdays, {span(800, 1800)}),
                        weekly("lobby", HolidayMode::open, kEveryDay, {span(700, 900)})};
    policy.holidays = {
        {"hq", {2020, 12, 25}, true}, {"hq", {2025, 12, 24}, false}, {"ny", {2026, 12, 24}, false}};
    policy.groups = {{"office", {on_site("office", "hq")}}, {"lobby", {on_site("lobby", "hq")}}};
    policy.people = {person("clerk", {"office"}, {"00100001"}), person("guard", {"lobby"}, {"00100002"})};

    const Days office = same_days("0800-1800-01;", kWorkdays);
    const Days lobby = same_days("0700-0900-01;", kEveryDay);
    // Friday 2026-12-25: a yearly holiday of the site.
    EXPECT_EQ(
        compile_cards(policy, kBerlinDoor, utc_ms("202612251100")),
        (std::vector<Card>{record("00100001", with_day(office, kFriday, "")), record("00100002", lobby)}));
    // Thursday 2026-12-24: a holiday of 2025 and of another site.
    EXPECT_EQ(compile_cards(policy, kBerlinDoor, utc_ms("202612241100")),
              (std::vector<Card>{record("00100001", office), record("00100002", lobby)}));
}

TEST(PolicyCompile, ValidityDatesAreReadInTheSitesZone) {
    Policy policy;
    policy.groups = {{"everywhere", {on_site("always", "hq"), on_site("always", "ny")}}};
    policy.people = {person("starts", {"everywhere"}, {"00100001"}),
                     person("ends", {"everywhere"}, {"00100002"})};
    policy.people[0].validFrom = CalendarDate{2026, 3, 1};
    policy.people[1].validUntil = CalendarDate{2026, 2, 28};

    // 03:30 UTC: 04:30 on 1 March in Berlin, 22:30 on 28 February in New York.
    const int64_t moment = utc_ms("202603010330");
    const Days always = same_days("0000-2359-01;", kEveryDay);
    EXPECT_EQ(compile_cards(policy, kBerlinDoor, moment), std::vector<Card>{record("00100001", always)});
    EXPECT_EQ(compile_cards(policy, kNewYorkDoor, moment), std::vector<Card>{record("00100002", always)});
}

TEST(PolicyCompile, DatesAndWeekdaysFollowTheDaylightSavingChanges) {
    Policy policy;
    policy.schedules = {weekly("daytime", HolidayMode::closed, kEveryDay, {span(800, 1700)})};
    policy.holidays = {{"hq", {2026, 3, 29}, false}, {"ny", {2026, 3, 8}, false}};
    policy.groups = {{"staff", {on_site("daytime", "hq"), on_site("daytime", "ny")}}};
    policy.people = {person("p1", {"staff"}, {"00100001"})};

    const Days daytime = same_days("0800-1700-01;", kEveryDay);
    const std::vector<Card> onHoliday{record("00100001", with_day(daytime, kSunday, ""))};
    const std::vector<Card> onWorkday{record("00100001", daytime)};
    // Berlin, summer time from 01:00 UTC on Sunday 29 March: 21:30 UTC is
    // 23:30 that Sunday, 22:30 UTC already 00:30 on Monday.
    EXPECT_EQ(compile_cards(policy, kBerlinDoor, utc_ms("202603292130")), onHoliday);
    EXPECT_EQ(compile_cards(policy, kBerlinDoor, utc_ms("202603292230")), onWorkday);
    // New York, daylight time from 07:00 UTC on Sunday 8 March: 03:30 UTC on
    // the 9th is 23:30 that Sunday, 04:30 UTC 00:30 on Monday.
    EXPECT_EQ(compile_cards(policy, kNewYorkDoor, utc_ms("202603090330")), onHoliday);
    EXPECT_EQ(compile_cards(policy, kNewYorkDoor, utc_ms("202603090430")), onWorkday);
}

TEST(PolicyCompile, GroupsGrantBySiteAndByController) {
    Policy policy;
    policy.schedules = {weekly("office", HolidayMode::closed, kWorkdays, {span(800, 1800)}),
                        weekly("night", HolidayMode::open, kEveryDay, {span(1800, 2400)})};
    policy.groups = {{"office", {on_site("office", "hq")}},
                     {"night", {on_site("night", "hq")}},
                     {"gate", {on_controller("always", "hq-door2")}}};
    policy.people = {person("p1", {"office", "night", "gate"}, {"00100001"}),
                     person("p2", {"gate"}, {"00100002"})};

    Days officeAndNight = same_days("0800-2359-01;", kWorkdays);
    officeAndNight.front() = officeAndNight.back() = "1800-2359-01;";  // Sunday and Saturday
    const Days always = same_days("0000-2359-01;", kEveryDay);
    EXPECT_EQ(compile_cards(policy, kBerlinDoor, kWednesdayNoon),
              std::vector<Card>{record("00100001", officeAndNight)});
    EXPECT_EQ(compile_cards(policy, kBerlinGate, kWednesdayNoon),
              (std::vector<Card>{record("00100001", always), record("00100002", always)}));
}

TEST(PolicyCompile, CardRowsStandBesidePeople) {
    Card row;
    row.card = "00200001";
    row.serial = "000001";
    row.password = "111111";
    row.days.at(kThursday) = "0600-0700-05;";
    row.controllers = {"hq-door1"};
    Card everywhere = row;
    everywhere.card = "00000009";
    everywhere.controllers = {};
    Card elsewhere = row;
    elsewhere.card = "00200002";
    elsewhere.controllers = {"ny-door1"};
    Card taken = everywhere;
    taken.card = "00100002";

    Policy policy;
    policy.groups = {{"staff", {on_site("always", "hq")}}};
    policy.people = {person("p1", {"staff"}, {"00100001", "00100002"})};
    policy.cards = {row, everywhere, elsewhere, taken};

    // 00100002 is both p1's and a row's: whose it is cannot be told, so
    // neither goes out, and saving is refused.
    const Days always = same_days("0000-2359-01;", kEveryDay);
    EXPECT_EQ(compile_cards(policy, kBerlinDoor, kWednesdayNoon),
              (std::vector<Card>{everywhere, record("00100001", always), row}));
    const std::vector<PolicyProblem> problems = policy_problems(policy, {kBerlinDoor}, kWednesdayNoon);
    ASSERT_EQ(problems.size(), 1U);
    EXPECT_EQ(problems[0].kind, PolicyProblemKind::cardOfTwoHolders);
    EXPECT_EQ(problems[0].card, "00100002");
    EXPECT_EQ(problems[0].message, "card 00100002 is held by person p1 and a card row");
}

TEST(PolicyCompile, APersonWithTwoCardsOnTwoSites) {
    Policy policy;
    policy.schedules = {weekly("office", HolidayMode::closed, kWorkdays, {span(800, 1800)}),
                        weekly("visits", HolidayMode::closed, {kTuesday, kThursday}, {span(900, 1230)})};
    policy.groups = {{"hq-staff", {on_site("office", "hq")}},
                     {"ny-visitors", {on_controller("visits", "ny-door1")}}};
    Person traveller = person("e-17", {"hq-staff", "ny-visitors"}, {"00100001", "00100002"});
    traveller.userStyle = 0;
    traveller.openStyle = 1;
    policy.people = {traveller, person("other", {"hq-staff"}, {"00100003"})};

    const Days office = same_days("0800-1800-01;", kWorkdays);
    const Days visits = same_days("0900-1230-01;", {kTuesday, kThursday});
    EXPECT_EQ(compile_cards(policy, kBerlinDoor, kWednesdayNoon),
              (std::vector<Card>{record("00100001", office, 0, 1), record("00100002", office, 0, 1),
                                 record("00100003", office)}));
    EXPECT_EQ(compile_cards(policy, kNewYorkDoor, kWednesdayNoon),
              (std::vector<Card>{record("00100001", visits, 0, 1), record("00100002", visits, 0, 1)}));
}

TEST(PolicyProblems, AControllerHoldsAtMostFiveThousandCards) {
    Policy policy;
    policy.groups = {{"staff", {on_controller("always", "hq-door1")}}};
    for (int i = 0; i < 4999; ++i) {
        policy.people.push_back(person(std::to_string(i), {"staff"}, {"001" + std::to_string(10000 + i)}));
    }
    Person ended = person("ended", {"staff"}, {"00200001"});
    ended.validUntil = CalendarDate{2026, 12, 8};
    Person inactive = person("inactive", {"staff"}, {"00200002"});
    inactive.active = false;
    Card row;
    row.card = "00300001";
    row.serial = "000001";
    row.password = "111111";
    policy.people.push_back(ended);
    policy.people.push_back(inactive);
    policy.cards = {row};
    EXPECT_TRUE(policy_problems(policy, {kBerlinDoor, kBerlinGate}, kWednesdayNoon).empty());

    // One who is not valid yet may be on any later day.
    Person starting = person("starting", {"staff"}, {"00200003"});
    starting.validFrom = CalendarDate{2027, 1, 1};
    policy.people.push_back(starting);
    const std::vector<PolicyProblem> problems =
        policy_problems(policy, {kBerlinDoor, kBerlinGate}, kWednesdayNoon);
    ASSERT_EQ(problems.size(), 1U);
    EXPECT_EQ(problems[0].kind, PolicyProblemKind::tooManyCards);
    EXPECT_EQ(problems[0].controller, "hq-door1");
    EXPECT_EQ(problems[0].message, "controller hq-door1 would hold 5001 cards, more than 5000");
}

}  // namespace
}  // namespace doorlinkd::policy_testing::golden
