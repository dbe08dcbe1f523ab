// The instant, site and zone each record is stored with.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "model/record.h"

namespace doorlinkd {

class Tx;

// Where a controller's records are taken: its site and the site's zone.
// A controller that is gone (its records stay) has no site, and its
// records are read in the zone of the site main (UTC without one).
struct RecordPlace {
    std::string site;
    std::string zone;
};
RecordPlace record_place(Tx& tx, const std::string& controller);

// The stamp of a record taken at the local time text at place. A text that
// is no date and time gets the instant archivedMs gives, marked "invalid".
RecordStamp record_stamp(const std::string& time, const RecordPlace& place,
                         const std::function<int64_t()>& archivedMs);

// The schema's upgrade to instants: stamps every record stored before, in
// batches, by its controller's place now; a record whose time is none
// gets its archived time.
void stamp_stored_records(Tx& tx);

}  // namespace doorlinkd
