#include "zones/policy_clock.h"

#include <chrono>

#ifdef DOORLINKD_TEST_CLOCK
#include <cstdlib>
#include <iostream>
#include <string>

#include "model/errors.h"
#include "zones/instant_text.h"
#endif

namespace doorlinkd {
namespace {

int64_t host_clock_ms() {
    using std::chrono::milliseconds;
    return std::chrono::duration_cast<milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

#ifdef DOORLINKD_TEST_CLOCK
constexpr const char* kTestNow = "DOORLINKD_TEST_NOW";

// How far the test's clock runs from the host's, or why its value is refused.
struct TestOffset {
    int64_t ms = 0;
    std::string problem;
};

TestOffset read_test_offset() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read once, under the guard of a function's static
    const char* given = std::getenv(kTestNow);
    if (!given) return {};
    try {
        const TestOffset offset{parsed_iso_instant(given) - host_clock_ms(), ""};
        std::cerr << "doorlinkd: " << kTestNow << "=" << given << ": the policy's clock is the host's plus "
                  << offset.ms << " ms" << std::endl;
        return offset;
    } catch (const Refused& refused) {
        return {0, std::string(kTestNow) + ": " + refused.what()};
    }
}
#endif

}  // namespace

int64_t policy_now_ms() {
#ifdef DOORLINKD_TEST_CLOCK
    static const TestOffset offset = read_test_offset();
    if (!offset.problem.empty()) throw Refused(offset.problem);
    return host_clock_ms() + offset.ms;
#else
    return host_clock_ms();
#endif
}

}  // namespace doorlinkd
