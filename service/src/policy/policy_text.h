// A policy's values in the text forms people type on the command line and
// in files. Each parser returns nullopt with a one-line reason when the
// text is not of its form; each writer gives the text its parser reads
// back into the same value. Dates are written by date_text (calendar.h);
// lists of names are read by split_words and written by join_words
// (model/card.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/policy.h"

namespace doorlinkd {

// Whether text can stand as a name (of a schedule, a group, a site or a
// controller) in these forms and in lists of names: 1 to 64 bytes of UTF-8
// without white space, control characters and '@'.
bool is_written_name(std::string_view text);

// "yyyy-mm-dd": 4, 2 and 2 digits naming a day of the calendar.
std::optional<CalendarDate> parse_date(std::string_view text, std::string& reason);

// A day's ranges "07:00-12:00,13:00-19:00" in the order written, "" for
// none: at most kMaxRangesPerDay, each from hh:mm (00:00 to 23:59) to a
// later hh:mm or 24:00.
std::optional<std::vector<TimeRange>> parse_ranges(std::string_view text, std::string& reason);
std::string ranges_text(const std::vector<TimeRange>& ranges);

// "SCHEDULE@site:SITE" (every controller of the site) or
// "SCHEDULE@controllers:A,B" (the controllers named), of written names.
std::optional<Grant> parse_grant(std::string_view text, std::string& reason);
std::string grant_text(const Grant& grant);
// Each grant's text, in order.
std::vector<std::string> grant_texts(const std::vector<Grant>& grants);

// A person's cards "CARD:SERIAL:PIN CARD:SERIAL:PIN", "" for none: three
// parts each, none empty. Only the form is checked here (policy_problems
// checks the numbers); a reason never shows a PIN.
std::optional<std::vector<PersonCard>> parse_person_cards(std::string_view text, std::string& reason);
std::string person_cards_text(const std::vector<PersonCard>& cards);

// "true"/"false", "yes"/"no" or "1"/"0" in any case; "" is byDefault.
// Written "true" or "false".
std::optional<bool> parse_flag(std::string_view text, bool byDefault, std::string& reason);
const char* flag_text(bool value);

}  // namespace doorlinkd
