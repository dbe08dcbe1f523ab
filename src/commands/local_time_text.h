// A local time given as text, "yyyymmddhhmmss", checked to be a real date and
// time that the controller's clock block can carry.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace doorlink::commands {

// The clock block carries the year as two digits, which the controller and
// every reader of its clock complete as 20yy; its leap years (yy % 4 == 0)
// are those of the calendar in these years only.
constexpr uint16_t kFirstClockYear = 2000;
constexpr uint16_t kLastClockYear = 2099;

// The day of the week of a civil date of the proleptic Gregorian calendar,
// 0 = Sunday, computed from the date alone (no time zone).
uint16_t day_of_week(int32_t year, uint32_t month, uint32_t day);

// True, with out filled (the day of the week included, milliseconds 0), when
// text is exactly 14 decimal digits naming a real date and time of the years
// kFirstClockYear..kLastClockYear; false with out untouched otherwise (null
// included).
bool parse_local_time_text(const char* text, platform::LocalTime& out);

}  // namespace doorlink::commands
