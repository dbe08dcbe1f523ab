#include "platform/threads.h"

#include <pthread.h>

namespace doorlink::platform {

struct Mutex::Impl {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};

Mutex::Mutex() : impl_(new Impl) {}
Mutex::~Mutex() { pthread_mutex_destroy(&impl_->mutex); }
void Mutex::lock() { pthread_mutex_lock(&impl_->mutex); }
void Mutex::unlock() { pthread_mutex_unlock(&impl_->mutex); }

struct SharedMutex::Impl {
    pthread_rwlock_t lock;
};

SharedMutex::SharedMutex() : impl_(new Impl) {
    pthread_rwlockattr_t attributes;
    pthread_rwlockattr_init(&attributes);
#ifdef __GLIBC__
    // A writer waiting is not passed by readers that come after it.
    pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
#endif
    pthread_rwlock_init(&impl_->lock, &attributes);
    pthread_rwlockattr_destroy(&attributes);
}
SharedMutex::~SharedMutex() { pthread_rwlock_destroy(&impl_->lock); }
void SharedMutex::lock() { pthread_rwlock_wrlock(&impl_->lock); }
void SharedMutex::unlock() { pthread_rwlock_unlock(&impl_->lock); }
void SharedMutex::lock_shared() { pthread_rwlock_rdlock(&impl_->lock); }
void SharedMutex::unlock_shared() { pthread_rwlock_unlock(&impl_->lock); }

struct Thread::Impl {
    pthread_t thread{};
    Entry entry = nullptr;
    void* argument = nullptr;
};

void* Thread::run(void* raw) {
    auto* impl = static_cast<Impl*>(raw);
    impl->entry(impl->argument);
    return nullptr;
}

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
    impl->entry = entry;
    impl->argument = argument;
    if (pthread_create(&impl->thread, nullptr, &Thread::run, impl.get()) != 0) {
        return false;
    }
    impl_ = std::move(impl);
    return true;
}

void Thread::join() {
    if (!impl_) return;
    pthread_join(impl_->thread, nullptr);
    impl_.reset();
}

}  // namespace doorlink::platform
