#include "leases/lease_keeper.h"

#include <vector>

namespace doorlinkd {
namespace {

// Renewed three times per lease time; a lease is driven only while at least
// a third of its time is surely left, so a renewal that fails once still
// leaves time to notice before it expires.
constexpr int kRenewalsPerLease = 3;

}  // namespace

// One controller's turn at its gate, from construction to destruction.
class LeaseKeeper::Turn {
public:
    // Waits for the turn.
    Turn(LeaseKeeper& keeper, const std::string& controller)
        : keeper_(keeper), gate_(keeper.enter(controller)) {
        lock_ = std::unique_lock<std::mutex>(gate_->second.mutex);
    }
    // Takes the turn only when nobody has it; see owns().
    Turn(LeaseKeeper& keeper, const std::string& controller, std::try_to_lock_t)
        : keeper_(keeper), gate_(keeper.enter(controller)) {
        lock_ = std::unique_lock<std::mutex>(gate_->second.mutex, std::try_to_lock);
    }
    ~Turn() {
        if (lock_.owns_lock()) lock_.unlock();
        keeper_.leave(gate_);
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

    bool owns() const { return lock_.owns_lock(); }

private:
    LeaseKeeper& keeper_;
    const std::map<std::string, Gate>::iterator gate_;
    std::unique_lock<std::mutex> lock_;
};

std::map<std::string, LeaseKeeper::Gate>::iterator LeaseKeeper::enter(const std::string& controller) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto gate = gates_.try_emplace(controller).first;
    ++gate->second.users;
    return gate;
}

void LeaseKeeper::leave(std::map<std::string, Gate>::iterator gate) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--gate->second.users == 0) gates_.erase(gate);
}

LeaseKeeper::LeaseKeeper(LeaseStore& store, std::string owner, int leaseSeconds)
    : store_(store), owner_(std::move(owner)), leaseSeconds_(leaseSeconds < 1 ? 1 : leaseSeconds) {
    renewer_ = std::thread([this] { renew_loop(); });
}

LeaseKeeper::~LeaseKeeper() {
    std::map<std::string, Held> held;
    bool announced = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        held.swap(held_);
        announced = announcing_;
    }
    wake_.notify_all();
    renewer_.join();
    if (announced) withdraw_sites();
    for (const auto& entry : held) {
        const Turn turn(*this, entry.first);
        try {
            store_.release_lease(entry.first, owner_);
        } catch (const std::exception&) {
            // It expires on its own.
        }
    }
}

void LeaseKeeper::serve_sites(const std::vector<std::string>& sites) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sites_ = ServedSites{sites.empty(), {sites.begin(), sites.end()}};
        announcing_ = true;
    }
    announce_sites();
}

void LeaseKeeper::announce_sites() {
    // One at a time with a withdrawal: none says again what a withdrawal
    // has just taken back.
    const std::lock_guard<std::mutex> turn(announcing_mutex_);
    std::vector<std::string> sites;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!announcing_ || !notDriving_.empty() || stopping_) return;
        sites.assign(sites_.names.begin(), sites_.names.end());
    }
    store_.announce_sites(owner_, sites, leaseSeconds_);
}

bool LeaseKeeper::serves(const std::string& site) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sites_.serves(site);
}

bool LeaseKeeper::take(const Controller& controller) {
    return serves(controller.site) && take(controller.name);
}

std::string LeaseKeeper::held_elsewhere(const Controller& controller) const {
    if (!serves(controller.site)) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string served;
        for (const std::string& site : sites_.names) served += (served.empty() ? "" : " ") + site;
        return controller.name + " is at site " + controller.site + ", which this instance does not serve (" +
               served + ")";
    }
    return held_elsewhere(controller.name);
}

bool LeaseKeeper::take(const std::string& controller) {
    const Turn turn(*this, controller);
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
    const Turn turn(*this, controller);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = held_.find(controller);
        if (it == held_.end()) return;
        if (--it->second.holders > 0) return;
        held_.erase(it);
    }
    // Still this release's turn: no take or renewal of the controller runs
    // until the delete is done.
    store_.release_lease(controller, owner_);
}

void LeaseKeeper::stop_driving(const std::string& reason) {
    bool announced = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        notDriving_ = reason.empty() ? "the keeper stopped driving" : reason;
        announced = announcing_;
    }
    // The sites are no longer served from here: a command for them is
    // refused at once by whichever instance hears it, unless another
    // instance serves them.
    if (announced) withdraw_sites();
}

void LeaseKeeper::withdraw_sites() {
    // After an announcement under way, which then finds the keeper stopped.
    const std::lock_guard<std::mutex> turn(announcing_mutex_);
    try {
        store_.withdraw_sites(owner_);
    } catch (const std::exception&) {
        // It expires on its own.
    }
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
        names.reserve(held_.size());
        for (const auto& entry : held_) names.push_back(entry.first);
        lock.unlock();
        try {
            announce_sites();
        } catch (const std::exception&) {
            // Tried again at the next renewal; it expires meanwhile.
        }
        for (const std::string& name : names) {
            // A take or release of it under way renews it or ends it: the
            // renewal is not needed, and waiting for a slow database call
            // would hold up the renewal of every other lease.
            const Turn turn(*this, name, std::try_to_lock);
            if (!turn.owns()) continue;
            {
                // Released since the names were listed: renewing it would
                // take it again, for nobody.
                std::lock_guard<std::mutex> relock(mutex_);
                if (held_.count(name) == 0) continue;
            }
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
