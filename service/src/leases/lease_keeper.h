// Per-controller leases in the database, kept by one process: taken before
// a controller is driven, renewed from a thread of its own while exports run
// (one export can outlast a lease), checked before every export call, and
// released at the end. A process that dies loses its leases when they
// expire; nothing is left on disk.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "store/store.h"

namespace doorlinkd {

// A lease that is no longer surely held: the controller must not be driven.
class LeaseLost : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LeaseKeeper {
public:
    LeaseKeeper(Store& store, std::string owner, int leaseSeconds);
    ~LeaseKeeper();  // releases every lease held and stops the renewal
    LeaseKeeper(const LeaseKeeper&) = delete;
    LeaseKeeper& operator=(const LeaseKeeper&) = delete;

    const std::string& owner() const { return owner_; }
    // False when another live owner holds the controller's lease.
    bool take(const std::string& controller);
    void release(const std::string& controller);
    // Why take() refused: "the lease of NAME is held by OWNER".
    std::string held_elsewhere(const std::string& controller) const;
    // Throws LeaseLost unless the lease was taken or renewed recently enough
    // that it holds for a while yet.
    void check(const std::string& controller) const;

private:
    using Clock = std::chrono::steady_clock;
    void renew_loop();

    Store& store_;
    const std::string owner_;
    const int leaseSeconds_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::map<std::string, Clock::time_point> held_;  // controller -> last taken or renewed
    std::thread renewer_;
};

// A lease taken, released when this ends; a release that fails (the
// database is down) is left to the lease's expiry.
class HeldLease {
public:
    HeldLease(LeaseKeeper& leases, std::string controller)
        : leases_(leases), controller_(std::move(controller)) {}
    ~HeldLease();
    HeldLease(const HeldLease&) = delete;
    HeldLease& operator=(const HeldLease&) = delete;

private:
    LeaseKeeper& leases_;
    const std::string controller_;
};

}  // namespace doorlinkd
