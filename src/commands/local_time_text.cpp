#include "commands/local_time_text.h"

#include <cstddef>

namespace doorlink::commands {
namespace {

constexpr size_t kLocalTimeTextLength = 14;

bool is_leap_year(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t days_in_month(uint32_t year, uint32_t month) {
    static constexpr uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

// The decimal value of text[at .. at + width), all of them digits.
uint32_t digits_at(const char* text, size_t at, size_t width) {
    uint32_t value = 0;
    for (size_t i = at; i < at + width; ++i) value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    return value;
}

}  // namespace

uint16_t day_of_week(int32_t year, uint32_t month, uint32_t day) {
    // Days since 1970-01-01 by the era arithmetic of the civil calendar
    // (eras of 400 years, years starting in March).
    const int32_t y = year - (month <= 2 ? 1 : 0);
    const int32_t era = (y >= 0 ? y : y - 399) / 400;
    const int32_t yearOfEra = y - era * 400;
    const int32_t monthFromMarch = static_cast<int32_t>(month) + (month > 2 ? -3 : 9);
    const int32_t dayOfYear = (153 * monthFromMarch + 2) / 5 + static_cast<int32_t>(day) - 1;
    const int32_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = static_cast<int64_t>(era) * 146097 + dayOfEra - 719468;
    // 1970-01-01 was a Thursday (4).
    return static_cast<uint16_t>(((days + 4) % 7 + 7) % 7);
}

bool parse_local_time_text(const char* text, platform::LocalTime& out) {
    if (!text) return false;
    for (size_t i = 0; i < kLocalTimeTextLength; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;  // the terminator included
    }
    if (text[kLocalTimeTextLength] != '\0') return false;
    const uint32_t year = digits_at(text, 0, 4);
    const uint32_t month = digits_at(text, 4, 2);
    const uint32_t day = digits_at(text, 6, 2);
    const uint32_t hour = digits_at(text, 8, 2);
    const uint32_t minute = digits_at(text, 10, 2);
    const uint32_t second = digits_at(text, 12, 2);
    if (year < kFirstClockYear || year > kLastClockYear || month < 1 || month > 12 || day < 1 ||
        day > days_in_month(year, month) || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    platform::LocalTime t;
    t.year = static_cast<uint16_t>(year);
    t.month = static_cast<uint16_t>(month);
    t.day = static_cast<uint16_t>(day);
    t.dayOfWeek = day_of_week(static_cast<int32_t>(year), month, day);
    t.hour = static_cast<uint16_t>(hour);
    t.minute = static_cast<uint16_t>(minute);
    t.second = static_cast<uint16_t>(second);
    out = t;
    return true;
}

}  // namespace doorlink::commands
