// The time zone serve works in. The controllers' clocks keep local time:
// the library sets them to this process's local time, and the clock checks
// read them in it. serve's --time-zone makes a zone this process's own, in
// place of the host's, before any thread starts.
#pragma once

#include <string>

namespace doorlinkd {

constexpr const char* kZoneDirectory = "/usr/share/zoneinfo";

// Why zone is no IANA zone name ("Europe/Berlin") of a zone file under the
// directory; "" when it is one. Names with "..", a leading '/' or other
// characters than letters, digits, '/', '_', '-', '+' and '.' are refused
// before any file is looked at.
std::string time_zone_problem(const std::string& zone, const std::string& directory = kZoneDirectory);

// Makes the zone, checked with time_zone_problem, this process's local time
// zone (TZ, then tzset). Only before any thread starts: the environment is
// no thread's to change later.
void use_time_zone(const std::string& zone, const std::string& directory = kZoneDirectory);

}  // namespace doorlinkd
