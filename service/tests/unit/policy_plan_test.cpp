// The plan of one controller between two policies at two moments, against
// changes written out by hand, a line each: "KIND CARD PERSON | FIELDS |
// REASONS".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/policy.h"
#include "policy/plan.h"
#include "policy_values.h"
#include "utc_text.h"

namespace doorlinkd::policy_testing::plan_golden {
namespace {

const std::vector<int> kEveryDay = {0, 1, 2, 3, 4, 5, 6};
const std::vector<int> kWorkdays = {1, 2, 3, 4, 5};

const Controller kBerlinDoor = controller("hq-door1", "hq", "Europe/Berlin");
const Controller kBerlinGate = controller("hq-door2", "hq", "Europe/Berlin");
const Controller kNewYorkDoor = controller("ny-door1", "ny", "America/New_York");

const int64_t kWednesdayNoon = utc_ms("202612091100");  // 12:00 in Berlin

Person named(Person p, const std::string& name) {
    p.name = name;
    return p;
}

std::string joined(const std::vector<std::string>& texts, const char* separator) {
    std::string text;
    for (const std::string& piece : texts) text += (text.empty() ? "" : separator) + piece;
    return text;
}

std::vector<std::string> lines(const std::vector<CardChange>& changes) {
    static const char* const kKinds[] = {"added", "removed", "changed"};
    std::vector<std::string> out;
    for (const CardChange& change : changes) {
        out.push_back(std::string(kKinds[static_cast<int>(change.kind)]) + " " + change.card + " " +
                      change.person + " | " + joined(change.fields, " ") + " | " +
                      joined(change.reasons, "; "));
    }
    return out;
}

using Lines = std::vector<std::string>;

Lines plan(const Policy& before, int64_t beforeAtMs, const Policy& after, int64_t afterAtMs,
           const Controller& on) {
    return lines(plan_controller(before, beforeAtMs, after, afterAtMs, on));
}

TEST(PolicyPlan, ValidityEndsAtMidnightInTheControllersZone) {
    Policy policy;
    policy.groups = {{"staff", {on_site("always", "hq"), on_site("always", "ny")}}};
    Person leaver = named(person("e42", {"staff"}, {"00100042"}), "Bob");
    leaver.validUntil = CalendarDate{2026, 12, 11};
    Person starter = named(person("e9", {"staff"}, {"00100009"}), "Carol");
    starter.validFrom = CalendarDate{2026, 12, 12};
    policy.people = {leaver, starter, named(person("e7", {"staff"}, {"00100007"}), "Alice")};

    // 23:30 UTC on 11 December: 00:30 on the 12th in Berlin, 18:30 on the
    // 11th in New York.
    const int64_t noon = utc_ms("202612111200");
    const int64_t night = utc_ms("202612112330");
    EXPECT_EQ(plan(policy, noon, policy, night, kBerlinDoor),
              (Lines{"added 00100009 e9 |  | e9 Carol: valid from 2026-12-12",
                     "removed 00100042 e42 |  | e42 Bob: valid until 2026-12-11"}));
    EXPECT_EQ(plan(policy, noon, policy, night, kNewYorkDoor), Lines{});

    // The end moved back instead, the same day.
    Policy ended = policy;
    ended.people[0].validUntil = CalendarDate{2026, 12, 10};
    EXPECT_EQ(plan(policy, noon, ended, noon, kNewYorkDoor),
              Lines{"removed 00100042 e42 |  | e42 Bob: valid until 2026-12-11 -> 2026-12-10"});
}

TEST(PolicyPlan, AGroupCountsOnlyWhereItGrants) {
    Policy before;
    before.schedules = {weekly("late", HolidayMode::open, kEveryDay, {span(1800, 2200)})};
    before.groups = {{"gate", {on_controller("late", "hq-door2")}},
                     {"it", {on_controller("late", "hq-door1")}}};
    before.people = {named(person("e7", {}, {"00100007"}), "Alice")};

    // Joining both: each controller names the group that grants on it.
    Policy inBoth = before;
    inBoth.people[0].groups = {"gate", "it"};
    EXPECT_EQ(plan(before, kWednesdayNoon, inBoth, kWednesdayNoon, kBerlinDoor),
              Lines{"added 00100007 e7 |  | e7 Alice: group it added"});
    EXPECT_EQ(plan(before, kWednesdayNoon, inBoth, kWednesdayNoon, kBerlinGate),
              Lines{"added 00100007 e7 |  | e7 Alice: group gate added"});

    Policy atTheGate = before;
    atTheGate.people[0].groups = {"gate"};
    EXPECT_EQ(plan(before, kWednesdayNoon, atTheGate, kWednesdayNoon, kBerlinDoor), Lines{});

    Policy gateGrantsHere = atTheGate;
    gateGrantsHere.groups[0].grants.push_back(on_controller("late", "hq-door1"));
    EXPECT_EQ(plan(atTheGate, kWednesdayNoon, gateGrantsHere, kWednesdayNoon, kBerlinDoor),
              Lines{"added 00100007 e7 |  | group gate: grant late@controllers:hq-door1 added"});
}

TEST(PolicyPlan, AScheduleChangeNamesTheDaysItChangesOnTheCard) {
    Policy before;
    before.schedules = {weekly("office", HolidayMode::closed, kWorkdays, {span(700, 1900)}),
                        weekly("long", HolidayMode::closed, {1}, {span(600, 2000)})};
    before.groups = {{"office", {on_site("office", "hq")}}, {"long", {on_site("long", "hq")}}};
    before.people = {named(person("e7", {"office"}, {"00100007"}), "Alice"),
                     named(person("e9", {"office", "long"}, {"00100009"}), "Carol"),
                     named(person("e42", {"long"}, {"00100042"}), "Bob")};

    Policy after = before;
    after.schedules[0].days.at(1) = {span(800, 1800)};  // Monday
    after.schedules[0].days.at(3) = {span(800, 1800)};  // Wednesday
    // Carol's Monday is the long one's 06:00-20:00 either way.
    EXPECT_EQ(
        plan(before, kWednesdayNoon, after, kWednesdayNoon, kBerlinDoor),
        (Lines{"changed 00100007 e7 | monday wednesday | schedule office: Monday 07:00-19:00 -> "
               "08:00-18:00; schedule office: Wednesday 07:00-19:00 -> 08:00-18:00",
               "changed 00100009 e9 | wednesday | schedule office: Wednesday 07:00-19:00 -> 08:00-18:00"}));
}

TEST(PolicyPlan, AHolidayTakesTheClosedSchedulesDay) {
    Policy policy;
    policy.schedules = {weekly("office", HolidayMode::closed, kWorkdays, {span(800, 1800)}),
                        weekly("lobby", HolidayMode::open, kEveryDay, {span(700, 900)})};
    policy.holidays = {{"hq", {2020, 12, 25}, true}, {"ny", {2026, 12, 24}, false}};
    policy.groups = {{"office", {on_site("office", "hq")}}, {"lobby", {on_site("lobby", "hq")}}};
    policy.people = {named(person("e7", {"office"}, {"00100007"}), "Alice"),
                     named(person("e42", {"lobby"}, {"00100042"}), "Bob")};

    // Thursday 24, Friday 25 (the yearly holiday) and Saturday 26 December.
    const int64_t thursday = utc_ms("202612241100");
    const int64_t friday = utc_ms("202612251100");
    const int64_t saturday = utc_ms("202612261100");
    EXPECT_EQ(plan(policy, thursday, policy, friday, kBerlinDoor),
              Lines{"changed 00100007 e7 | friday | site hq: holiday 2026-12-25"});
    EXPECT_EQ(plan(policy, friday, policy, saturday, kBerlinDoor),
              Lines{"changed 00100007 e7 | friday | site hq: holiday 2026-12-25"});

    Policy openOnHolidays = policy;
    openOnHolidays.schedules[0].holidays = HolidayMode::open;
    EXPECT_EQ(plan(policy, friday, openOnHolidays, friday, kBerlinDoor),
              Lines{"changed 00100007 e7 | friday | schedule office: holidays closed -> open"});
}

TEST(PolicyPlan, APinChangeIsNamedAndNeverShown) {
    Policy before;
    before.groups = {{"staff", {on_site("always", "hq")}}};
    before.people = {named(person("e7", {"staff"}, {"00100001"}), "Alice"),
                     named(person("e42", {"staff"}, {"00100042"}), "Bob")};

    Policy after = before;
    after.people[0].cards[0].password = "111111";
    after.people[1].userStyle = 0;
    const Lines changes = plan(before, kWednesdayNoon, after, kWednesdayNoon, kBerlinDoor);
    EXPECT_EQ(changes, (Lines{"changed 00100001 e7 | password | e7 Alice: card 00100001 PIN changed",
                              "changed 00100042 e42 | user_style | e42 Bob: user style 1 -> 0"}));
    for (const std::string& change : changes) {
        EXPECT_EQ(change.find("654321"), std::string::npos) << change;
        EXPECT_EQ(change.find("111111"), std::string::npos) << change;
    }
}

TEST(PolicyPlan, CardRowsStandBesidePeople) {
    Card row;
    row.card = "00200001";
    row.serial = "000001";
    row.password = "111111";
    row.controllers = {"hq-door1"};
    Card leaving = row;
    leaving.card = "00200002";
    Card elsewhere = row;
    elsewhere.card = "00200004";
    elsewhere.controllers = {"ny-door1"};

    Policy before;
    before.groups = {{"staff", {on_site("always", "hq")}}};
    before.people = {named(person("e7", {"staff"}, {"00100007"}), "Alice"),
                     named(person("e42", {"staff"}, {"00100042"}), "Bob")};
    before.cards = {row, leaving};

    Policy after = before;
    after.people[1].active = false;
    Card coming = row;
    coming.card = "00200003";
    Card alicesNumber = row;  // a second holder: the number goes to neither
    alicesNumber.card = "00100007";
    after.cards = {row, coming, elsewhere, alicesNumber};
    after.cards[0].days.at(4) = "0600-0700-05;";  // Thursday
    EXPECT_EQ(plan(before, kWednesdayNoon, after, kWednesdayNoon, kBerlinDoor),
              (Lines{"removed 00100007 e7 |  | card 00100007 has more than one holder",
                     "removed 00100042 e42 |  | e42 Bob: disabled",
                     "changed 00200001  | thursday | card row changed",
                     "removed 00200002  |  | card row removed", "added 00200003  |  | card row added"}));
}

}  // namespace
}  // namespace doorlinkd::policy_testing::plan_golden
