// What a change did to a value, as the audit log writes it: each field that
// changed with its old and new text, a PIN only as "PIN changed".
#pragma once

#include <string>

#include "model/policy.h"

namespace doorlinkd {

// "" when nothing changed. before or after null: the value was added or
// removed (its fields are listed, a PIN never).
std::string changes_of(const Person* before, const Person* after);
std::string changes_of(const Group* before, const Group* after);
std::string changes_of(const AccessSchedule* before, const AccessSchedule* after);
std::string changes_of(const Holiday* before, const Holiday* after);

}  // namespace doorlinkd
