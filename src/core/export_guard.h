// Nothing thrown inside the library crosses the C boundary: every export runs
// its body through guarded(), which turns any exception into the failure
// value.
#pragma once

#include <utility>

namespace doorlink::core {

template <typename R, typename Body>
R guarded(R failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

}  // namespace doorlink::core
