// How long a piece of a test takes.
#pragma once

#include <chrono>

namespace doorlink::testing {

// Milliseconds taken by f().
template <typename F>
long elapsed_ms(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
}

}  // namespace doorlink::testing
