// Events in, told out: what the service sees is stored (with its outbox
// message) and every waiting event stream and the MQTT publisher wake up.
// Events another instance stores are seen by polling: a waiter wakes at its
// timeout too and looks in the database.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "fleet/metrics.h"
#include "model/event.h"
#include "store/store.h"

namespace doorlinkd {

class EventHub {
public:
    EventHub(Store& store, Metrics& metrics) : store_(store), metrics_(metrics) {}

    // Stores the events (ids and times set), counts them and wakes the waiters.
    std::vector<Event> append(std::vector<Event> events);
    // Wakes the waiters after events were stored some other way (an
    // archive's records).
    void poke();

    // Waits until something was appended or poked after `seen` (a value of
    // generation()), the timeout passed or stop() was called; returns the
    // generation now. Never waits once stopped.
    uint64_t wait(uint64_t seen, std::chrono::milliseconds timeout);
    uint64_t generation() const;
    void stop();
    bool stopped() const;

private:
    Store& store_;
    Metrics& metrics_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t generation_ = 0;
    bool stopped_ = false;
};

}  // namespace doorlinkd
