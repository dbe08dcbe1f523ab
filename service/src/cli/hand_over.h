// While serve holds the data directory and the controllers' leases, the
// command line drives no controller: it hands a sync, an apply or a
// leaver's removal to serve through the database and waits for the outcome,
// which it prints as if it had run the work itself.
#pragma once

#include <string>

#include "fleet/outcome.h"
#include "store/store.h"

namespace doorlinkd {

// Whether an instance of serve is live (it announced the sites it serves
// and the announcement has not expired).
bool serve_is_live(Store& store);

// Submits the request and waits for its outcome. Busy when no instance
// takes it within a few seconds.
Outcome handed_over(Store& store, const std::string& kind, const Json& arguments, const std::string& by);

}  // namespace doorlinkd
