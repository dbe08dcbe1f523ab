// The moment the policy is compiled and checked for: which cards a
// controller must hold now, whose validity dates and holidays have come.
#pragma once

#include <cstdint>

namespace doorlinkd {

// Milliseconds since 1970-01-01 00:00:00 UTC by the host's clock.
//
// A build made for the tests (the CMake option DOORLINKD_TEST_CLOCK, on
// where the tests are built) reads the environment variable
// DOORLINKD_TEST_NOW at the first call: an ISO 8601 instant with its
// offset ("2026-12-24T23:59:58+01:00"). The clock then shows that instant
// at that moment and runs on from it at the host clock's pace, so a test
// sees a date change or a site's midnight within seconds; the first call
// tells on standard error how far it runs from the host's clock. A value
// that is no such instant is refused (Refused), at the first call and
// every one after it. A release build (the packages) ignores the variable.
int64_t policy_now_ms();

}  // namespace doorlinkd
