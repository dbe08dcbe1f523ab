// The people file (CSV): one person a row, with the cards and their PINs
// (the file is written readable by its owner alone). As the card file, it is
// taken whole or not at all: every row is checked, and a file with any bad
// row is refused, each named by its line and column.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "cards/card_csv.h"
#include "model/policy.h"

namespace doorlinkd {

// The header line's columns, in order. A person's notes, user style and open
// style are not in the file.
inline const std::array<const char*, 8> kPeopleColumns = {"id",         "name",        "email",  "active",
                                                          "valid_from", "valid_until", "groups", "cards"};

struct PersonRow {
    int line = 0;  // the line the row starts on; 1 is the header
    Person person;
};

// Reads a CSV text that starts with the header line. Throws RowsRefused
// naming the bad rows (a field out of its form, an id or a card number
// already on an earlier row, a bad header); returns nothing then.
std::vector<PersonRow> parse_people_csv(const std::string& text);
// The same, adding what is wrong to errors and returning the good rows, so
// that the policy's own problems can be named with them. A bad header still
// throws RowsRefused; a text of more rows than the limit throws Refused at
// the first row past it, unread.
std::vector<PersonRow> parse_people_csv(const std::string& text, RowErrors& errors,
                                        const RowLimit& limit = RowLimit{});

// The CSV text of people, header first: parse_people_csv reads back the
// columns of people who pass policy_problems as they were.
std::string write_people_csv(const std::vector<Person>& people);

}  // namespace doorlinkd
