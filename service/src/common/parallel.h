// Work on several threads at once, for the controllers of one command.
#pragma once

#include <cstddef>
#include <functional>

namespace doorlinkd {

// Runs work(i) for every i below count, on at most `threads` threads at once
// (at least one). Once a call has thrown no further index starts; when every
// thread has ended, the first exception is thrown on.
void run_in_parallel(size_t count, int threads, const std::function<void(size_t)>& work);

}  // namespace doorlinkd
