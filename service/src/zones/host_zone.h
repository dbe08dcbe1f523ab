// The host's own time zone, by name: what a new database's first site is in
// when init is given none.
#pragma once

#include <string>

namespace doorlinkd {

// tz: the TZ variable's value (nullptr: not set); localtime: the path of the
// host's zone link. The zone TZ names (a leading ':' aside), else the zone
// under kZoneDirectory that localtime links to, else "UTC"; only names that
// zone_problem accepts.
std::string host_time_zone(const char* tz, const std::string& localtime = "/etc/localtime");

}  // namespace doorlinkd
