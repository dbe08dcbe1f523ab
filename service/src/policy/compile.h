// The card records a controller must hold under a policy at one moment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/card.h"
#include "model/controller.h"
#include "model/policy.h"

namespace doorlinkd {

// Day texts end at 23:59 where a range ends at 24:00: the controller reads
// hours and minutes of a clock, and a day has no 24:00.
constexpr int kLastMinuteOfDay = kMinutesPerDay - 1;
// The tag of every range compiled from a schedule.
constexpr int kScheduleRangeTag = 1;

// The day text "hhmm-hhmm-01;" per range of at most the first 8 ranges.
std::string compiled_day_text(const std::vector<TimeRange>& ranges);

// Whether the person's cards go to a controller on date, their groups
// aside: active, with cards, and valid on that date.
bool admits_on(const Person& person, const CalendarDate& date);
// Whether the person's validity holds on date.
bool is_valid_on(const Person& person, const CalendarDate& date);
// Whether the person's validity ended before date.
bool has_ended(const Person& person, const CalendarDate& date);

// The records that controller (whose zone is its site's) must hold at the
// instant atMs, sorted by card: the cards of the active people valid on the
// instant's date there whose groups grant the controller anything, and the
// card rows that go to it as they are. A card number that comes twice is
// left out: it cannot be told whose it is (policy_problems names it).
std::vector<Card> compile_cards(const Policy& policy, const Controller& controller, int64_t atMs);
// The same with the card rows that go to the controller given, in place of
// those of policy.cards: for a caller that sorts the rows of many
// controllers in one pass.
std::vector<Card> compile_cards(const Policy& policy, const Controller& controller, int64_t atMs,
                                std::vector<Card> rows);

}  // namespace doorlinkd
