#include "policy/calendar.h"

#include <algorithm>
#include <array>

#include "zones/zones.h"

namespace doorlinkd {
namespace {

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
    static constexpr std::array<int, 12> kLengths = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : kLengths.at(static_cast<size_t>(month - 1));
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t days_since_epoch(const CalendarDate& date) {
    const int64_t year = date.month <= 2 ? date.year - 1 : date.year;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear =
        (153 * (date.month > 2 ? date.month - 3 : date.month + 9) + 2) / 5 + date.day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The date of days since 1970-01-01: days_since_epoch's inverse.
CalendarDate date_of_days(int64_t days) {
    const int64_t shifted = days + 719468;
    const int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const int64_t dayOfEra = shifted - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // March first
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    return CalendarDate{year, month, day};
}

int number_at(const std::string& text, size_t pos, size_t length) {
    return std::stoi(text.substr(pos, length));
}

}  // namespace

LocalDay local_day(int64_t instantMs, const std::string& zone) {
    const std::string text = local_text(instantMs, zone);  // yyyymmddhhmmss
    LocalDay day;
    day.date = {number_at(text, 0, 4), number_at(text, 4, 2), number_at(text, 6, 2)};
    // 1970-01-01 was a Thursday.
    day.weekday = static_cast<int>(((days_since_epoch(day.date) + 4) % 7 + 7) % 7);
    return day;
}

CalendarDate days_after(const CalendarDate& date, int days) {
    return date_of_days(days_since_epoch(date) + days);
}

bool is_calendar_date(const CalendarDate& date) {
    return date.year >= 1 && date.year <= 9999 && date.month >= 1 && date.month <= 12 && date.day >= 1 &&
           date.day <= days_in_month(date.year, date.month);
}

bool is_holiday(const std::vector<Holiday>& holidays, const std::string& site, const CalendarDate& date) {
    return std::any_of(holidays.begin(), holidays.end(), [&](const Holiday& holiday) {
        if (holiday.site != site) return false;
        if (holiday.yearly) return holiday.date.month == date.month && holiday.date.day == date.day;
        return holiday.date == date;
    });
}

std::string optional_date_text(const std::optional<CalendarDate>& date) {
    return date ? date_text(*date) : "";
}

const char* day_name(int weekday) {
    static constexpr std::array<const char*, kDays> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                                 "Thursday", "Friday", "Saturday"};
    return kDayNames.at(static_cast<size_t>(weekday));
}

}  // namespace doorlinkd
