// A site of the fleet: a place whose controllers keep local time in one
// IANA time zone.
#pragma once

#include <set>
#include <string>

namespace doorlinkd {

// The site that initialise() makes, and that controllers of a database of
// an older schema belong to.
constexpr const char* kMainSite = "main";

// The sites that live instances of serve drive, as they announced them: a
// controller whose site none serves is driven by nobody (unserved).
struct ServedSites {
    bool all = false;             // an instance serves every site
    std::set<std::string> names;  // the sites served by name
    bool serves(const std::string& site) const { return all || names.count(site) > 0; }
};

struct Site {
    std::string name;         // as a controller's name: 1 to 32 of letters, digits, '-', '_', '.'
    std::string zone;         // IANA time zone ("Europe/Berlin"), checked with zone_problem
    std::string description;  // free text, may be empty
};

}  // namespace doorlinkd
