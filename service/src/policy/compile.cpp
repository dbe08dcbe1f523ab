#include "policy/compile.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "cards/day_text.h"
#include "policy/calendar.h"
#include "policy/grants.h"

namespace doorlinkd {
namespace {

// "hhmm-hhmm-tt;", as the controller reads a range back.
void append_compiled_range(std::string& text, const TimeRange& range) {
    const int to = std::min(range.to, kLastMinuteOfDay);
    std::array<char, 24> written{};
    std::snprintf(written.data(), written.size(), "%02d%02d-%02d%02d-%02d;", range.from / 60, range.from % 60,
                  to / 60, to % 60, kScheduleRangeTag);
    text += written.data();
}

// A person's card as its record: one record per card, no further cards.
Card person_record(const Person& person, const PersonCard& personCard,
                   const std::array<std::string, kDays>& days) {
    Card record;
    record.card = personCard.card;
    record.serial = personCard.serial;
    record.password = personCard.password;
    record.userStyle = person.userStyle;
    record.openStyle = person.openStyle;
    record.days = days;
    return record;
}

// The records sorted by card, without the card numbers that come more than
// once.
std::vector<Card> without_repeated_cards(std::vector<Card> records) {
    std::stable_sort(records.begin(), records.end(),
                     [](const Card& a, const Card& b) { return a.card < b.card; });
    std::vector<Card> kept;
    for (size_t i = 0; i < records.size();) {
        size_t end = i + 1;
        while (end < records.size() && records[end].card == records[i].card) ++end;
        if (end == i + 1) kept.push_back(std::move(records[i]));
        i = end;
    }
    return kept;
}

}  // namespace

std::string compiled_day_text(const std::vector<TimeRange>& ranges) {
    std::string text;
    const size_t count = std::min(ranges.size(), static_cast<size_t>(kMaxRangesPerDay));
    for (size_t i = 0; i < count; ++i) append_compiled_range(text, ranges[i]);
    return text;
}

bool admits_on(const Person& person, const CalendarDate& date) {
    return person.active && !person.cards.empty() && is_valid_on(person, date);
}

bool is_valid_on(const Person& person, const CalendarDate& date) {
    return (!person.validFrom || *person.validFrom <= date) &&
           (!person.validUntil || date <= *person.validUntil);
}

bool has_ended(const Person& person, const CalendarDate& date) {
    return person.validUntil && *person.validUntil < date;
}

std::vector<Card> compile_cards(const Policy& policy, const Controller& controller, int64_t atMs) {
    std::vector<Card> rows;
    for (const Card& row : policy.cards) {
        if (goes_to(row, controller.name)) rows.push_back(row);
    }
    return compile_cards(policy, controller, atMs, std::move(rows));
}

std::vector<Card> compile_cards(const Policy& policy, const Controller& controller, int64_t atMs,
                                std::vector<Card> rows) {
    const LocalDay today = local_day(atMs, controller.zone);
    const bool holiday = is_holiday(policy.holidays, controller.site, today.date);
    std::vector<Card> records;
    for (const Person& person : policy.people) {
        if (!admits_on(person, today.date)) continue;
        const std::vector<const AccessSchedule*> schedules = granted_schedules(policy, person, controller);
        if (schedules.empty()) continue;
        std::array<std::string, kDays> days;
        for (int weekday = 0; weekday < kDays; ++weekday) {
            days.at(static_cast<size_t>(weekday)) =
                compiled_day_text(merged_ranges(schedules, weekday, holiday && weekday == today.weekday));
        }
        for (const PersonCard& card : person.cards) records.push_back(person_record(person, card, days));
    }
    records.insert(records.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    return without_repeated_cards(std::move(records));
}

}  // namespace doorlinkd
