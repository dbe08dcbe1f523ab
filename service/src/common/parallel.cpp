#include "common/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace doorlinkd {

void run_in_parallel(size_t count, int threads, const std::function<void(size_t)>& work) {
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::exception_ptr first;

    auto worker = [&] {
        for (size_t i; !failed && (i = next++) < count;) {
            try {
                work(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!first) first = std::current_exception();
                failed = true;
            }
        }
    };
    const size_t wanted = std::min(count, static_cast<size_t>(std::max(threads, 1)));
    std::vector<std::thread> pool;
    pool.reserve(wanted);
    try {
        for (size_t t = 0; t < wanted; ++t) pool.emplace_back(worker);
    } catch (...) {
        failed = true;  // no thread to be had: those started finish what they began
        for (std::thread& thread : pool) thread.join();
        throw;
    }
    for (std::thread& thread : pool) thread.join();
    if (first) std::rethrow_exception(first);
}

}  // namespace doorlinkd
