// The JSON bodies of the policy's routes read into the arguments of its
// operations (fleet/policy_operations.h). Each reader refuses a body not of
// its form with 400; the values themselves are the operations' to check.
// A change names the revision of the value it was made on: PUT's body and
// DELETE's query must give it.
#pragma once

#include <cstdint>
#include <string>

#include "fleet/policy_operations.h"
#include "http/request_forms.h"

namespace doorlinkd {

// {id, name, email?, notes?, active?, valid_from?, valid_until?, groups?,
// cards?, user_style?, open_style?} to add; to change (change: true) the
// id is the path's, revision is required and the fields given are set
// (null clears email and the validity dates). groups: [names]; cards:
// [{card, serial, pin?}], a card without pin keeping the PIN it has.
PersonArgs person_of_body(const Json& body, const std::string& pathId, bool change);

// {name, days?, holidays?}: days, seven arrays (Sunday first) of ranges
// "07:00-19:00"; holidays "closed" or "open". To change, the name is the
// path's and revision is required.
ScheduleArgs schedule_of_body(const Json& body, const std::string& pathName, bool change);

// {name, grants?}: grants, texts "SCHEDULE@site:SITE" or
// "SCHEDULE@controllers:A,B". To change, the name is the path's and
// revision is required.
GroupArgs group_of_body(const Json& body, const std::string& pathName, bool change);

// {site, date, yearly?} to add; {yearly?, revision} to change the holiday
// of the path's site and date.
HolidayArgs holiday_of_body(const Json& body);
HolidayArgs holiday_change_of_body(const Json& body, const std::string& site, const std::string& date);

// A revision as a query gives it (DELETE's ?revision=N): required.
int64_t revision_of_query(bool given, const std::string& text);

}  // namespace doorlinkd
