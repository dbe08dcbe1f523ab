// Leavers: who a newer revision shuts out, what goes to a controller still
// applied at an older one, and a sync giving way to their removal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "policy/compile.h"
#include "policy/leavers.h"
#include "policy_values.h"
#include "sync/turns.h"
#include "utc_text.h"

namespace doorlinkd::policy_testing::leavers {
namespace {

Policy office(std::vector<Person> people) {
    Policy policy;
    policy.schedules = {weekly("office", HolidayMode::closed, {1, 2, 3, 4, 5}, {span(700, 1900)})};
    policy.groups = {Group{"staff", {on_site("office", "hq")}}, Group{"lab", {on_site("office", "lab")}}};
    policy.people = std::move(people);
    return policy;
}

Person until(Person p, int day) {
    p.validUntil = CalendarDate{2026, 12, day};
    return p;
}

Person inactive(Person p) {
    p.active = false;
    return p;
}

TEST(Leavers, AreThoseWhoseAccessTheNewerRevisionEnds) {
    const Policy before = office(
        {person("a", {"staff"}, {"00100001"}), person("b", {"staff"}, {"00100002"}),
         until(person("c", {"staff"}, {"00100003"}), 20), until(person("d", {"staff"}, {"00100004"}), 20),
         inactive(person("e", {"staff"}, {"00100005"})), person("f", {"staff"}, {"00100006"})});
    // a disabled, b removed, c ends earlier; d later, e was out already, f
    // moves to another group (a change to apply, not a leaver).
    const Policy after = office(
        {inactive(person("a", {"staff"}, {"00100001"})), until(person("c", {"staff"}, {"00100003"}), 10),
         until(person("d", {"staff"}, {"00100004"}), 30), inactive(person("e", {"staff"}, {"00100005"})),
         person("f", {"lab"}, {"00100006"})});
    EXPECT_EQ(new_leavers(before, after), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(Leavers, LeaveTheListOfAControllerAppliedAtAnOlderRevisionAndNothingElseOfTheNewerComes) {
    const Controller door = controller("hq-door1", "hq", "Europe/Berlin");
    Policy applied = office({person("a", {"staff"}, {"00100001"}), person("c", {"staff"}, {"00100003"}),
                             person("f", {"staff"}, {"00100006"})});
    Policy newest = office({inactive(person("a", {"staff"}, {"00100001"})),
                            until(person("c", {"staff"}, {"00100003"}), 10),
                            person("f", {"lab"}, {"00100006"}), person("g", {"staff"}, {"00100007"})});
    Card row;
    row.card = "00110001";
    newest.cards = {row};
    const Policy sent = sent_policy(applied, newest);
    std::vector<std::string> cards;
    for (const Card& card : compile_cards(sent, door, utc_ms("202612151100"))) cards.push_back(card.card);
    // a disabled and c ended on the 10th are gone; f keeps the applied group,
    // g is not applied yet; the newest card row goes out at once.
    EXPECT_EQ(cards, (std::vector<std::string>{"00100006", "00110001"}));
}

TEST(Leavers, TheirRemovalGoesFirstAndASyncHoldingTheControllerGivesWay) {
    ControllerTurns turns;
    std::atomic<bool> urgentHas{false};
    std::optional<ControllerTurns::Turn> sync;
    sync.emplace(turns, "door", false);
    EXPECT_NO_THROW(turns.give_way_if_asked("door"));
    std::thread urgent([&] {
        const ControllerTurns::Turn turn(turns, "door", true);
        urgentHas = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    // The sync notices at its next exchange, and lets go.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool gaveWay = false;
    while (!gaveWay && std::chrono::steady_clock::now() < deadline) {
        try {
            turns.give_way_if_asked("door");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } catch (const GaveWay&) {
            gaveWay = true;
        }
    }
    EXPECT_TRUE(gaveWay);
    EXPECT_NO_THROW(turns.give_way_if_asked("other-door"));
    // Another sync waiting when the sync lets go comes after the removal.
    std::atomic<bool> nextSawUrgent{false};
    std::thread next([&] {
        const ControllerTurns::Turn turn(turns, "door", false);
        nextSawUrgent = urgentHas.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sync.reset();
    urgent.join();
    next.join();
    EXPECT_TRUE(nextSawUrgent);
}

}  // namespace
}  // namespace doorlinkd::policy_testing::leavers
