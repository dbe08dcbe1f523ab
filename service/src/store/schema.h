// The schema's versions, as the statements that upgrade one to the next.
#pragma once

#include <string>
#include <vector>

namespace doorlinkd {

// Step i takes the schema from version i to i + 1; a new version appends a
// step (and raises kSchemaVersion). The statements use the connection
// dialect's tokens (store/connection.h).
const std::vector<std::vector<std::string>>& upgrade_steps();

}  // namespace doorlinkd
