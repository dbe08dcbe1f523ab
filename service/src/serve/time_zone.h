// The time zone serve works in. The controllers' clocks keep local time:
// the library sets them to this process's local time, and the clock checks
// read them in it. serve's --time-zone makes a zone this process's own, in
// place of the host's, before any thread starts.
#pragma once

#include <string>

namespace doorlinkd {

// Makes the zone, checked with zone_problem, this process's local time zone
// (TZ, then tzset). Only before any thread starts: the environment is no
// thread's to change later.
void use_time_zone(const std::string& zone);

}  // namespace doorlinkd
