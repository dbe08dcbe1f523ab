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
