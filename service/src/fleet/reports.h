// The reports of access that an admin reviews: where and when one person
// may enter over the coming week, who may enter one controller, and the
// cards that opened nothing for a while. Each is JSON and a table for a CSV
// file; none shows a PIN.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet/outcome.h"
#include "store/store.h"

namespace doorlinkd {

struct Report {
    Json json;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
};

// The days the access report covers: the local day of the moment asked for
// and the six after it.
constexpr int kAccessReportDays = 7;

// Per controller the person's groups grant anything on (with its site and
// zone), the ranges they may enter by on each of kAccessReportDays local
// days from the date of atMs there: exactly the ranges the records
// compiled on each of those days give their cards. NotFound for an unknown
// person.
Report access_report(Store& store, const std::string& personId, int64_t atMs);

// Everyone who may enter the controller: the people (active, with cards,
// their validity not ended by the date of atMs there) with their ranges on
// each weekday and on each weekday that is a holiday of its site, their
// validity and card numbers; and the card rows that go to it, with their
// days as the controller holds them (a card row has no holidays). NotFound
// for an unknown controller.
Report entry_report(Store& store, const std::string& controllerName, int64_t atMs);

// The days unused_cards_report looks back at most.
constexpr int kMaxUnusedDays = 3650;

// The cards (people's, and card rows with their further cards) of which
// no record is stored from days before nowMs on, with their holders and
// the instant of their newest record, if any.
Report unused_cards_report(Store& store, int days, int64_t nowMs);

// The report as a CSV text: a header of its columns, a line per row. A
// field that a spreadsheet would read as a formula (=, +, -, @ first) is
// written with a ' before it.
std::string report_csv(const Report& report);

}  // namespace doorlinkd
