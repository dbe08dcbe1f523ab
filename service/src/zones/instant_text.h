// Instants as ISO 8601 texts, and the bounds of record queries that callers
// give as text.
#pragma once

#include <cstdint>
#include <string>

#include "model/record.h"

namespace doorlinkd {

// "yyyy-mm-dd hh:mm:ss" of a local time text "yyyymmddhhmmss"; another
// text as it is.
std::string readable_time(const std::string& time);

// "2026-12-08T08:00:00Z": the instant in UTC, to the second (the ms below
// it dropped). Refused for an instant whose year is not of four digits.
std::string iso_instant(int64_t instantMs);

// The instant of an ISO 8601 date and time with its offset:
// "2026-12-08T09:00:00+01:00", "2026-12-08T08:00:00Z", with an optional
// fraction of the second (".250") and the offset as +hh:mm, +hhmm, +hh or Z.
// Refused for any other text, and for one without an offset (whose instant
// is unknown).
int64_t parsed_iso_instant(const std::string& text);

// A record query's bound as a caller writes it: ISO 8601 with an offset or
// Z (an instant), or 14 digits yyyymmddhhmmss, which stand for the record's
// own local time (compared with each record's time, whatever its zone).
// Refused, the message starting with name, for anything else.
RecordBound record_bound(const std::string& name, const std::string& text);

}  // namespace doorlinkd
