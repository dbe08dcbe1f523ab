// A policy as an edit would leave it, to be checked whole before it is saved.
#pragma once

#include "model/policy.h"

namespace doorlinkd {

// The policy with the edit's removals and then its values put in (each
// replacing the one of its name, or added). Revisions are not checked here:
// the store checks them when it saves.
Policy edited_policy(Policy policy, const PolicyEdit& edit);

}  // namespace doorlinkd
