#include "support/sim_fixture.h"

namespace doorlink::testing {

std::string silent_address() { return doorsim::find_free_loopback_address(); }

}  // namespace doorlink::testing
