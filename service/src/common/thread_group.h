// The threads of one part of serve, which a stop waits for with a deadline:
// a thread still in an export when the deadline comes cannot be joined, and
// the process then ends without it (the journal keeps what it fetched).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace doorlinkd {

class ThreadGroup {
public:
    explicit ThreadGroup(std::string name) : name_(std::move(name)) {}
    ~ThreadGroup() { join(); }
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;

    // Runs work on a thread of its own; what it throws is written to
    // standard error with the group's name.
    void spawn(std::function<void()> work);
    // True once every thread has ended, false when the deadline came first.
    bool wait_until(std::chrono::steady_clock::time_point deadline);
    // Joins every thread (waiting as long as they run).
    void join();

private:
    const std::string name_;
    std::mutex mutex_;
    std::condition_variable ended_;
    int running_ = 0;
    std::vector<std::thread> threads_;
};

// A part of serve that runs on threads of its own: told to stop, then
// waited for with a deadline. Its destructor stops and joins before its
// members go.
class Background {
public:
    virtual ~Background() = default;
    // Ends every wait and lets nothing new begin; returns at once.
    virtual void stop() = 0;
    bool wait_stopped(std::chrono::steady_clock::time_point deadline) {
        return threads_.wait_until(deadline);
    }
    void join() { threads_.join(); }

protected:
    explicit Background(std::string name) : threads_(std::move(name)) {}
    ThreadGroup threads_;
};

}  // namespace doorlinkd
