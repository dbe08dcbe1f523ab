#include "mqtt/outbox_publisher.h"

#include "mqtt/mqtt_log.h"

namespace doorlinkd {
namespace {

using namespace std::chrono_literals;

// NOLINTNEXTLINE(cert-err58-cpp,bugprone-throwing-static-initialization): constant text
const std::string kOutboxLease = "@outbox";
// Messages handed over and not yet acknowledged, at most: the connection
// sends them in order, so the broker takes them in order.
constexpr size_t kWindow = 16;
// After the broker refused a message, before it is sent again.
constexpr auto kRefusalPause = 5s;

}  // namespace

OutboxPublisher::OutboxPublisher(Store& store, EventHub& hub, LeaseKeeper& leases, Metrics& metrics,
                                 Send send)
    : store_(store), hub_(hub), leases_(leases), metrics_(metrics), send_(std::move(send)) {}

OutboxPublisher::~OutboxPublisher() { stop(); }

void OutboxPublisher::start() {
    worker_ = std::thread([this] { run(); });
    watcher_ = std::thread([this] { watch_hub(); });
}

void OutboxPublisher::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || !worker_.joinable()) return;
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
    watcher_.join();
    take_acknowledgements();  // what came meanwhile is not sent again next time
    if (leaseHeld_) {
        try {
            leases_.release(kOutboxLease);
        } catch (const std::exception&) {
            // It expires on its own.
        }
    }
}

void OutboxPublisher::connected(bool up) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connected_ = up;
    }
    wake();
}

void OutboxPublisher::acknowledged(int mid, bool accepted, const std::string& why) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        acks_.push_back({mid, accepted, why});
    }
    wake();
}

void OutboxPublisher::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

void OutboxPublisher::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        // Also once a second: other instances store events too.
        wake_.wait_for(lock, 1s, [this] { return woken_ || stopping_; });
        if (stopping_) break;
        woken_ = false;
        const bool up = connected_;
        lock.unlock();
        take_acknowledgements();
        if (up && hold_lease()) {
            hand_over();
        } else if (!up && leaseHeld_) {
            // Another instance that reaches the broker may publish meanwhile.
            leaseHeld_ = false;
            try {
                leases_.release(kOutboxLease);
            } catch (const std::exception&) {
                // It expires on its own.
            }
        }
        lock.lock();
    }
}

void OutboxPublisher::watch_hub() {
    uint64_t seen = hub_.generation();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (stopping_) return;
            // A stopped hub no longer waits: the worker's own second is the pace.
            if (hub_.stopped()) {
                wake_.wait_for(lock, 1s, [this] { return stopping_; });
                continue;
            }
        }
        const uint64_t now = hub_.wait(seen, 500ms);
        if (now != seen) {
            seen = now;
            wake();
        }
    }
}

void OutboxPublisher::take_acknowledgements() {
    std::deque<Ack> acks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        acks.swap(acks_);
    }
    for (const Ack& ack : acks) {
        auto it = inFlight_.find(ack.mid);
        if (it == inFlight_.end()) continue;  // not an outbox message
        const int64_t id = it->second;
        inFlight_.erase(it);
        if (ack.accepted) {
            toMark_.insert(id);
            metrics_.mqtt_published();
        } else {
            handed_.erase(id);
            mqtt_log("the broker refused outbox message " + std::to_string(id) + " (" + ack.why +
                     "); sending it again in a while");
            pausedUntil_ = std::chrono::steady_clock::now() + kRefusalPause;
        }
    }
    while (!toMark_.empty()) {
        const int64_t id = *toMark_.begin();
        try {
            store_.mark_published(id);
            lastFailed_ = false;
        } catch (const std::exception& error) {
            if (!lastFailed_) mqtt_log(std::string("cannot mark published messages: ") + error.what());
            lastFailed_ = true;
            return;  // kept, and not sent again meanwhile
        }
        toMark_.erase(id);
        handed_.erase(id);
    }
}

bool OutboxPublisher::hold_lease() {
    try {
        leases_.check(kOutboxLease);
        return leaseHeld_ = true;
    } catch (const LeaseLost&) {
        // Taken again below, unless another instance holds it. The keeper
        // counts its holders: the hold that lapsed goes first, or the lease
        // would outlive its release.
        if (leaseHeld_) {
            try {
                leases_.release(kOutboxLease);
            } catch (const std::exception&) {
                // It expires on its own.
            }
        }
    }
    bool taken = false;
    try {
        taken = leases_.take(kOutboxLease);
    } catch (const std::exception&) {
        taken = false;  // the database is down: nothing can be read from the outbox either
    }
    if (taken != leaseHeld_) {
        mqtt_log(taken ? "this instance publishes the outbox" : "another instance publishes the outbox");
    }
    return leaseHeld_ = taken;
}

void OutboxPublisher::hand_over() {
    if (std::chrono::steady_clock::now() < pausedUntil_ || inFlight_.size() >= kWindow) return;
    std::vector<Store::OutboxMessage> pending;
    try {
        pending = store_.outbox_pending(static_cast<int>(kWindow + handed_.size()));
        lastFailed_ = false;
    } catch (const std::exception& error) {
        if (!lastFailed_) mqtt_log(std::string("cannot read the outbox: ") + error.what());
        lastFailed_ = true;
        return;
    }
    for (const Store::OutboxMessage& message : pending) {
        if (inFlight_.size() >= kWindow) break;
        if (handed_.count(message.id)) continue;
        const Handed handed = send_(message);
        if (handed.result == Handed::NotNow) break;  // lost the connection: after the next one
        if (handed.result == Handed::Sent) {
            inFlight_[handed.mid] = message.id;
            handed_.insert(message.id);
            continue;
        }
        // No broker will ever take it; kept, it would hold back every later one.
        mqtt_log("outbox message " + std::to_string(message.id) + " on " + message.topic +
                 " cannot be published (" + handed.why + "); skipped");
        toMark_.insert(message.id);
        handed_.insert(message.id);
    }
}

}  // namespace doorlinkd
