#include "fleet/event_hub.h"

namespace doorlinkd {

std::vector<Event> EventHub::append(std::vector<Event> events) {
    if (events.empty()) return events;
    events = store_.append_events(std::move(events));
    for (const Event& event : events) metrics_.event(event.kind);
    poke();
    return events;
}

void EventHub::poke() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
    }
    wake_.notify_all();
}

uint64_t EventHub::wait(uint64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, timeout, [&] { return stopped_ || generation_ != seen; });
    return generation_;
}

uint64_t EventHub::generation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

void EventHub::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
}

bool EventHub::stopped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
}

}  // namespace doorlinkd
