// The progress keys of the card list transfers in the device registry file,
// each written while holding the library lock.
#pragma once

#include <cstdint>

namespace doorlink::cardlists {

// section = "<name>", key = "<name><listNumber>", value "%ld".
void WriteProgress(const char* name, int listNumber, long value);

}  // namespace doorlink::cardlists
