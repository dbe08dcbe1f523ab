#include "zones/zones.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "model/errors.h"
#include "zones/zone_rules.h"

namespace doorlinkd {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr size_t kMaxZoneName = 64;
constexpr size_t kTextLength = 14;  // yyyymmddhhmmss

// The instants of four-digit years in UTC: 0000-01-01 00:00:00 and
// 10000-01-01 00:00:00.
constexpr int64_t kFourDigitYearsFromMs = -62167219200000;
constexpr int64_t kFourDigitYearsUntilMs = 253402300800000;
constexpr int64_t kDayMs = 86400000;

bool is_zone_character(unsigned char c) {
    return std::isalnum(c) || c == '/' || c == '_' || c == '-' || c == '+' || c == '.';
}

bool is_zone_name(const std::string& name) {
    return !name.empty() && name.size() <= kMaxZoneName && name.front() != '/' && name.back() != '/' &&
           name.find("..") == std::string::npos && name.find("//") == std::string::npos &&
           std::all_of(name.begin(), name.end(), is_zone_character);
}

// The zone's rules; null for a name that is none of the database's.
const ZoneRules* known_zone(const std::string& name) {
    if (!is_zone_name(name) || name == "localtime") return nullptr;
    return ZoneRules::find(name);
}

const ZoneRules& rules_of(const std::string& zone) {
    const ZoneRules* rules = known_zone(zone);
    if (rules == nullptr) throw Refused(zone_problem(zone));
    return *rules;
}

int text_number(const std::string& text, size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

// value, not negative, in width digits with leading zeros.
void append_number(std::string& text, int64_t value, size_t width) {
    std::string digits(width, '0');
    for (size_t i = width; i > 0 && value > 0; --i, value /= 10)
        digits[i - 1] = static_cast<char>('0' + value % 10);
    text += digits;
}

date::local_seconds parsed_local_time(const std::string& text) {
    const auto refused = [&text] { return Refused("\"" + text + "\" is no local time yyyymmddhhmmss"); };
    if (text.size() != kTextLength ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        throw refused();
    }
    const date::year_month_day day{date::year{text_number(text, 0, 4)},
                                   date::month{static_cast<unsigned>(text_number(text, 4, 2))},
                                   date::day{static_cast<unsigned>(text_number(text, 6, 2))}};
    const int hours = text_number(text, 8, 2);
    const int minutes = text_number(text, 10, 2);
    const int secondsOfMinute = text_number(text, 12, 2);
    if (!day.ok() || hours > 23 || minutes > 59 || secondsOfMinute > 59) throw refused();
    return date::local_days{day} + std::chrono::hours{hours} + std::chrono::minutes{minutes} +
           seconds{secondsOfMinute};
}

int64_t ms_since_epoch(date::sys_seconds instant) {
    return std::chrono::duration_cast<milliseconds>(instant.time_since_epoch()).count();
}

}  // namespace

std::string zone_problem(const std::string& name) {
    if (!is_zone_name(name)) return "\"" + name + "\" is no time zone name such as Europe/Berlin or UTC";
    if (known_zone(name) == nullptr) {
        return "no time zone \"" + name + "\" in " + kZoneDirectory;
    }
    return "";
}

void require_zone(const std::string& name) {
    const std::string problem = zone_problem(name);
    if (!problem.empty()) throw Refused(problem);
}

const char* local_time_kind_name(LocalTimeKind kind) {
    switch (kind) {
        case LocalTimeKind::exact: return "exact";
        case LocalTimeKind::ambiguous: return "ambiguous";
        case LocalTimeKind::nonexistent: return "nonexistent";
    }
    return "exact";
}

ZonedInstant instant_of(const std::string& localText, const std::string& zone) {
    const ZoneRules& rules = rules_of(zone);
    const date::local_seconds localTime = parsed_local_time(localText);
    const date::local_info info = rules.at(localTime);
    switch (info.result) {
        case date::local_info::unique: break;
        case date::local_info::ambiguous:  // the earlier: still on the first offset
            return {ms_since_epoch(date::sys_seconds{localTime.time_since_epoch() - info.first.offset}),
                    LocalTimeKind::ambiguous};
        case date::local_info::nonexistent:
            return {ms_since_epoch(info.second.begin), LocalTimeKind::nonexistent};
    }
    return {ms_since_epoch(date::sys_seconds{localTime.time_since_epoch() - info.first.offset}),
            LocalTimeKind::exact};
}

std::string local_text(int64_t instantMs, const std::string& zone) {
    const ZoneRules& rules = rules_of(zone);
    const auto refused = [instantMs] {
        return Refused("no local time of a four-digit year at " + std::to_string(instantMs) + " ms");
    };
    // A day to spare for any zone's offset; the local year is checked below.
    if (instantMs < kFourDigitYearsFromMs - kDayMs || instantMs > kFourDigitYearsUntilMs + kDayMs)
        throw refused();
    const auto instant = date::floor<seconds>(date::sys_time<milliseconds>{milliseconds{instantMs}});
    const date::local_seconds localTime{instant.time_since_epoch() + rules.at(instant).offset};
    const auto day = date::floor<date::days>(localTime);
    const date::year_month_day date{day};
    const date::hh_mm_ss<seconds> time{localTime - day};
    const int year = static_cast<int>(date.year());
    if (year < 0 || year > 9999) throw refused();
    std::string text;
    append_number(text, year, 4);
    append_number(text, static_cast<unsigned>(date.month()), 2);
    append_number(text, static_cast<unsigned>(date.day()), 2);
    append_number(text, time.hours().count(), 2);
    append_number(text, time.minutes().count(), 2);
    append_number(text, time.seconds().count(), 2);
    return text;
}

std::optional<int64_t> next_transition(const std::string& zone, int64_t afterMs) {
    const ZoneRules& rules = rules_of(zone);
    if (afterMs >= kFourDigitYearsUntilMs) return std::nullopt;
    const auto instant = date::floor<seconds>(
        date::sys_time<milliseconds>{milliseconds{std::max(afterMs, kFourDigitYearsFromMs)}});
    // A period may end with only its name or daylight saving flag changed:
    // go on to the first whose offset differs.
    date::sys_info period = rules.at(instant);
    const date::sys_seconds until{seconds{kFourDigitYearsUntilMs / 1000}};
    while (period.end < until) {
        const date::sys_info next = rules.at(period.end);
        if (next.offset != period.offset) return ms_since_epoch(period.end);
        period = next;
    }
    return std::nullopt;
}

}  // namespace doorlinkd
