#include "leases/lease_keeper.h"

namespace doorlinkd {
namespace {

// Renewed three times per lease time; a lease is driven only while at least
// a third of its time is surely left, so a renewal that fails once still
// leaves time to notice before it expires.
constexpr int kRenewalsPerLease = 3;

}  // namespace

LeaseKeeper::LeaseKeeper(Store& store, std::string owner, int leaseSeconds)
    : store_(store), owner_(std::move(owner)), leaseSeconds_(leaseSeconds < 1 ? 1 : leaseSeconds) {
    renewer_ = std::thread([this] { renew_loop(); });
}

LeaseKeeper::~LeaseKeeper() {
    std::map<std::string, Held> held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        held.swap(held_);
    }
    wake_.notify_all();
    renewer_.join();
    for (const auto& entry : held) {
        try {
            store_.release_lease(entry.first, owner_);
        } catch (const std::exception&) {
            // It expires on its own.
        }
    }
}

bool LeaseKeeper::take(const std::string& controller) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!notDriving_.empty()) return false;
    }
    // The time is taken before asking: the lease runs from no earlier.
    const Clock::time_point asked = Clock::now();
    if (!store_.take_lease(controller, owner_, leaseSeconds_)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    Held& held = held_[controller];
    held.renewed = asked;
    ++held.holders;
    return true;
}

std::string LeaseKeeper::held_elsewhere(const std::string& controller) const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!notDriving_.empty()) return notDriving_;
    }
    std::optional<std::string> holder;
    try {
        holder = store_.lease_holder(controller);
    } catch (const std::exception&) {
        // named as another process
    }
    return "the lease of " + controller + " is held by " + holder.value_or("another process");
}

void LeaseKeeper::release(const std::string& controller) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = held_.find(controller);
        if (it == held_.end()) return;
        if (--it->second.holders > 0) return;
        held_.erase(it);
    }
    store_.release_lease(controller, owner_);
}

void LeaseKeeper::stop_driving(const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    notDriving_ = reason.empty() ? "the keeper stopped driving" : reason;
}

void LeaseKeeper::check(const std::string& controller) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!notDriving_.empty()) throw LeaseLost(notDriving_);
    auto it = held_.find(controller);
    if (it == held_.end()) throw LeaseLost("the lease of " + controller + " is not held");
    const auto left = it->second.renewed + std::chrono::seconds(leaseSeconds_) - Clock::now();
    if (left < std::chrono::milliseconds(leaseSeconds_ * 1000 / kRenewalsPerLease)) {
        throw LeaseLost("the lease of " + controller + " could not be renewed");
    }
}

void LeaseKeeper::renew_loop() {
    const auto every = std::chrono::milliseconds(leaseSeconds_ * 1000 / kRenewalsPerLease / 2 + 1);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, every, [this] { return stopping_; });
        if (stopping_) break;
        std::vector<std::string> names;
        for (const auto& entry : held_) names.push_back(entry.first);
        lock.unlock();
        for (const std::string& name : names) {
            const Clock::time_point asked = Clock::now();
            enum { Renewed, Taken, Unknown } outcome = Unknown;
            try {
                outcome = store_.take_lease(name, owner_, leaseSeconds_) ? Renewed : Taken;
            } catch (const std::exception&) {
                outcome = Unknown;  // check() refuses once the time left is short
            }
            std::lock_guard<std::mutex> relock(mutex_);
            auto it = held_.find(name);
            if (it == held_.end()) continue;
            if (outcome == Renewed) it->second.renewed = asked;
            // Another owner holds it now: lost at once.
            if (outcome == Taken) it->second.renewed = Clock::time_point{};
        }
        lock.lock();
    }
}

HeldLease::~HeldLease() {
    try {
        leases_.release(controller_);
    } catch (const std::exception&) {
        // It expires on its own.
    }
}

}  // namespace doorlinkd
