// Time zones of the sites. A controller keeps local time in its site's IANA
// zone ("Europe/Berlin"); these convert its local time texts to the UTC
// instants they stand for and back, after the system's time zone database
// (tzdata), whatever zone this process or the host is in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace doorlinkd {

// Where the system keeps its zones, one file per name.
constexpr const char* kZoneDirectory = "/usr/share/zoneinfo";

// Why name is no zone of the database; "" when it is one. Names with "..",
// a leading or trailing '/', "//" or other characters than letters, digits,
// '/', '_', '-', '+' and '.' are refused before the database is asked, and so
// is "localtime", the host's own zone.
std::string zone_problem(const std::string& name);
// Throws Refused with zone_problem's message unless name is a zone.
void require_zone(const std::string& name);

// How a local time maps to UTC.
enum class LocalTimeKind {
    exact,        // it occurs once
    ambiguous,    // it occurs twice (the hour repeated when the clocks go back): the earlier
    nonexistent,  // it falls in the gap when the clocks go forward: the instant the gap ends
};

// "exact", "ambiguous" or "nonexistent".
const char* local_time_kind_name(LocalTimeKind kind);

struct ZonedInstant {
    int64_t utcMs = 0;  // milliseconds since 1970-01-01 00:00:00 UTC
    LocalTimeKind kind = LocalTimeKind::exact;
};

// The instant a local time text "yyyymmddhhmmss" stands for in zone.
// Refused for a text that is not 14 digits of a real date and time, and for
// a zone that zone_problem refuses.
ZonedInstant instant_of(const std::string& localText, const std::string& zone);

// "yyyymmddhhmmss" of an instant in zone. Refused for a zone that
// zone_problem refuses and for an instant whose local year is not of four
// digits.
std::string local_text(int64_t instantMs, const std::string& zone);

// The first instant after afterMs at which zone's UTC offset changes; none
// when it changes no more (before the year 10000). Refused for a zone that
// zone_problem refuses.
std::optional<int64_t> next_transition(const std::string& zone, int64_t afterMs);

}  // namespace doorlinkd
