// Runs a job for each of count items on at most `parallel` threads at once.
// The first exception a job throws stops the jobs not yet begun and is
// thrown again once every thread has ended.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace doorlinkd {

template <class Job>
void each_in_parallel(size_t count, int parallel, Job job) {
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex errorLock;
    std::exception_ptr error;
    auto work = [&] {
        for (size_t i = next++; i < count && !failed; i = next++) {
            try {
                job(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorLock);
                if (!error) error = std::current_exception();
                failed = true;
            }
        }
    };
    const size_t threads = std::min(count, static_cast<size_t>(std::max(parallel, 1)));
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; ++t) pool.emplace_back(work);
    for (std::thread& thread : pool) thread.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace doorlinkd
