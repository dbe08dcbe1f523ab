// The dates of a policy as a controller reads them: an instant's date and
// weekday in its site's zone, and the holidays that fall on a date.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/policy.h"

namespace doorlinkd {

struct LocalDay {
    CalendarDate date;
    int weekday = 0;  // 0 (Sunday) to 6, the controller's order of days
};

// The date and weekday of an instant in zone (IANA). Refused as local_text
// refuses.
LocalDay local_day(int64_t instantMs, const std::string& zone);

// The date that comes days after date (before it when days is negative).
CalendarDate days_after(const CalendarDate& date, int days);

// Whether date names a day of the calendar (years 1 to 9999).
bool is_calendar_date(const CalendarDate& date);

// Whether one of the holidays of site falls on date.
bool is_holiday(const std::vector<Holiday>& holidays, const std::string& site, const CalendarDate& date);

// date_text (model/policy.h) of a date given, "" of none.
std::string optional_date_text(const std::optional<CalendarDate>& date);

// "Sunday" to "Saturday" of a weekday 0 to 6.
const char* day_name(int weekday);

}  // namespace doorlinkd
