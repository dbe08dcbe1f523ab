// A fuzz target's own checks: a property that fails ends the run (abort),
// so that libFuzzer keeps the input and the replay test fails.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace doorlink::fuzz {

[[noreturn]] inline void fail(const char* message) {
    std::fprintf(stderr, "fuzz check failed: %s\n", message);
    std::abort();
}

}  // namespace doorlink::fuzz

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : ::doorlink::fuzz::fail(#condition " at " __FILE__))
