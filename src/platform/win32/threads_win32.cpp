// The mutex is a critical section, the shared mutex a slim reader-writer
// lock; threads are the platform's own.
#include "platform/threads.h"

#include "platform/win32/win32_api.h"

namespace doorlink::platform {

struct Mutex::Impl {
    CRITICAL_SECTION section;
};

Mutex::Mutex() : impl_(new Impl) { ::InitializeCriticalSection(&impl_->section); }
Mutex::~Mutex() { ::DeleteCriticalSection(&impl_->section); }
void Mutex::lock() { ::EnterCriticalSection(&impl_->section); }
void Mutex::unlock() { ::LeaveCriticalSection(&impl_->section); }

struct SharedMutex::Impl {
    SRWLOCK lock = SRWLOCK_INIT;
};

SharedMutex::SharedMutex() : impl_(new Impl) {}
SharedMutex::~SharedMutex() = default;
void SharedMutex::lock() { ::AcquireSRWLockExclusive(&impl_->lock); }
void SharedMutex::unlock() { ::ReleaseSRWLockExclusive(&impl_->lock); }
void SharedMutex::lock_shared() { ::AcquireSRWLockShared(&impl_->lock); }
void SharedMutex::unlock_shared() { ::ReleaseSRWLockShared(&impl_->lock); }

namespace {

// What the new thread runs; it lives in the thread's Impl until the join.
struct StartBlock {
    Thread::Entry entry = nullptr;
    void* argument = nullptr;
};

DWORD WINAPI thread_entry(LPVOID raw) {
    auto* start = static_cast<StartBlock*>(raw);
    start->entry(start->argument);
    return 0;
}

}  // namespace

struct Thread::Impl {
    HANDLE thread = nullptr;
    StartBlock start;
};

Thread::Thread() = default;
Thread::~Thread() { join(); }
Thread::Thread(Thread&& other) noexcept : impl_(std::move(other.impl_)) {}
Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        join();
        impl_ = std::move(other.impl_);
    }
    return *this;
}

bool Thread::start(Entry entry, void* argument) {
    join();
    auto impl = std::make_unique<Impl>();
    impl->start.entry = entry;
    impl->start.argument = argument;
    HANDLE h = ::CreateThread(nullptr, 0, &thread_entry, &impl->start, 0, nullptr);
    if (!h) return false;
    impl->thread = h;
    impl_ = std::move(impl);
    return true;
}

void Thread::join() {
    if (!impl_) return;
    ::WaitForSingleObject(impl_->thread, INFINITE);
    ::CloseHandle(impl_->thread);
    impl_.reset();
}

}  // namespace doorlink::platform
