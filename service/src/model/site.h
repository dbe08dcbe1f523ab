// A site of the fleet: a place whose controllers keep local time in one
// IANA time zone.
#pragma once

#include <string>

namespace doorlinkd {

// The site that initialise() makes, and that controllers of a database of
// an older schema belong to.
constexpr const char* kMainSite = "main";

struct Site {
    std::string name;         // as a controller's name: 1 to 32 of letters, digits, '-', '_', '.'
    std::string zone;         // IANA time zone ("Europe/Berlin"), checked with zone_problem
    std::string description;  // free text, may be empty
};

}  // namespace doorlinkd
