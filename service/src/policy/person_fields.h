// The rules of a person's own text fields, which every way of making a
// person passes alike: the people file, the command line and the checks
// before a policy is saved.
#pragma once

#include <string>
#include <string_view>

namespace doorlinkd {

enum class PersonField {
    id,     // 1 to 64 bytes of printable ASCII, no space or comma
    name,   // 1 to 200 bytes on one line, no control characters
    email,  // empty, or at most 254 bytes with one '@' between text, no space or control characters
    notes,  // at most 1000 bytes; line breaks, but no other control characters
};

// The field's name as the people file and the command line write it.
const char* person_field_name(PersonField field);

// Why the value does not pass the field's rule, or empty when it does. The
// value is not echoed.
std::string person_field_problem(PersonField field, std::string_view value);

}  // namespace doorlinkd
