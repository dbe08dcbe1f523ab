// A mutex, a shared (reader-writer) mutex and plain worker threads on the
// platform's own primitives.
#pragma once

#include <memory>

namespace doorlink::platform {

class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock();
    void unlock();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A lock that many may hold shared, or one alone.
class SharedMutex {
public:
    SharedMutex();
    ~SharedMutex();
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;
    void lock();
    void unlock();
    void lock_shared();
    void unlock_shared();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class Thread {
public:
    using Entry = void (*)(void* argument);
    Thread();   // out of line: Impl is complete only in the backend
    ~Thread();  // joins a thread that is still running
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;

    // Starts entry(argument) on a new thread; false when none could be started.
    bool start(Entry entry, void* argument);
    void join();
    bool running() const { return impl_ != nullptr; }

private:
    struct Impl;
    static void* run(void* raw);
    std::unique_ptr<Impl> impl_;
};

}  // namespace doorlink::platform
