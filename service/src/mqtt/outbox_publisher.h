// Publishes the outbox, oldest first, while this instance holds the
// "@outbox" lease and the broker is connected: at most a few messages
// unacknowledged at a time, each marked published only when the broker has
// acknowledged it. Messages handed to the connection stay with it across
// reconnections (it resends them), so after an outage the backlog goes out
// in order from the first one not acknowledged.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "fleet/event_hub.h"
#include "fleet/metrics.h"
#include "leases/lease_keeper.h"
#include "mqtt/mosquitto_client.h"
#include "store/store.h"

namespace doorlinkd {

class OutboxPublisher {
public:
    using Send = std::function<Handed(const Store::OutboxMessage&)>;
    OutboxPublisher(Store& store, EventHub& hub, LeaseKeeper& leases, Metrics& metrics, Send send);
    ~OutboxPublisher();  // stops
    OutboxPublisher(const OutboxPublisher&) = delete;
    OutboxPublisher& operator=(const OutboxPublisher&) = delete;

    void start();
    // Ends the threads and gives the lease back.
    void stop();

    // From the network thread: each returns at once.
    void connected(bool up);
    void acknowledged(int mid, bool accepted, const std::string& why);

private:
    struct Ack {
        int mid;
        bool accepted;
        std::string why;
    };
    void run();
    void watch_hub();
    void take_acknowledgements();
    bool hold_lease();
    void hand_over();
    void wake();

    Store& store_;
    EventHub& hub_;
    LeaseKeeper& leases_;
    Metrics& metrics_;
    const Send send_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false, stopping_ = false, connected_ = false;
    std::deque<Ack> acks_;
    std::thread worker_, watcher_;

    // The worker's own: message id -> outbox id of what the connection holds
    // unacknowledged, those outbox ids, and the acknowledged ones not yet
    // marked (the database was down).
    std::map<int, int64_t> inFlight_;
    std::set<int64_t> handed_;
    std::set<int64_t> toMark_;
    bool leaseHeld_ = false;
    bool lastFailed_ = false;
    std::chrono::steady_clock::time_point pausedUntil_{};
};

}  // namespace doorlinkd
