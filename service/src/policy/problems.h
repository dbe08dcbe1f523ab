// The checks a policy passes before it is saved.
#pragma once

#include <cstdint>
#include <vector>

#include "model/controller.h"
#include "model/policy.h"

namespace doorlinkd {

// Every problem of the policy over the controllers (each with its site's
// zone) at the instant atMs, none when it may be saved: fields out of range,
// names it does not have, a day with more than 8 ranges left for a person on
// a controller, a controller that would hold more than 5,000 cards on any
// day from atMs on (every active person whose validity has not ended there,
// and the rows that go to it), and card numbers of more than one holder.
std::vector<PolicyProblem> policy_problems(const Policy& policy, const std::vector<Controller>& controllers,
                                           int64_t atMs);

}  // namespace doorlinkd
