#include "common/thread_group.h"

#include <iostream>

namespace doorlinkd {

void ThreadGroup::spawn(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++running_;
    threads_.emplace_back([this, work = std::move(work)] {
        try {
            work();
        } catch (const std::exception& e) {
            std::cerr << "doorlinkd: " << name_ << ": " << e.what() << std::endl;
        }
        std::lock_guard<std::mutex> ended(mutex_);
        --running_;
        ended_.notify_all();
    });
}

bool ThreadGroup::wait_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_until(lock, deadline, [this] { return running_ == 0; });
}

void ThreadGroup::join() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(threads_);
    }
    for (std::thread& thread : threads) {
        if (thread.joinable()) thread.join();
    }
}

}  // namespace doorlinkd
