// The OpenAPI 3.0 document of the REST API, written from its route table.
#pragma once

#include <vector>

#include "fleet/outcome.h"
#include "http/routes.h"

namespace doorlinkd {

Json openapi_document(const std::vector<Route>& routes);

}  // namespace doorlinkd
