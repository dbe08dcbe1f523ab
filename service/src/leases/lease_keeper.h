// Per-controller leases in the database, kept by one process: taken before
// a controller is driven, renewed from a thread of its own while exports run
// (one export can outlast a lease), checked before every export call, and
// released at the end. A process that dies loses its leases when they
// expire; nothing is left on disk.
//
// Within the process a lease is counted: each take() that succeeds is one
// holder, and release() gives the lease back only when its last holder
// releases it. So serve's hold on the controllers it monitors outlasts the
// syncs and openings that take and release them meanwhile.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "model/controller.h"
#include "model/site.h"
#include "store/leases.h"

namespace doorlinkd {

// A lease that is no longer surely held: the controller must not be driven.
class LeaseLost : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LeaseKeeper {
public:
    LeaseKeeper(LeaseStore& store, std::string owner, int leaseSeconds);
    ~LeaseKeeper();  // releases every lease held and stops the renewal
    LeaseKeeper(const LeaseKeeper&) = delete;
    LeaseKeeper& operator=(const LeaseKeeper&) = delete;

    const std::string& owner() const { return owner_; }
    // From now on the process drives the controllers of these sites only
    // (none: of every site, as before it is called), and says so in the
    // database at once (throwing when it cannot) and again with every
    // renewal, until the keeper stops driving or ends.
    void serve_sites(const std::vector<std::string>& sites);
    // Whether the process drives the controllers of the site.
    bool serves(const std::string& site) const;
    // False when another live owner holds the controller's lease, its site
    // is not served here, or the keeper stopped driving.
    bool take(const Controller& controller);
    // The same of a lease that is no controller's ("@outbox").
    bool take(const std::string& controller);
    // One holder less; the lease goes back when none is left.
    void release(const std::string& controller);
    // Why take() refused: "the lease of NAME is held by OWNER", or that
    // its site is not served here.
    std::string held_elsewhere(const Controller& controller) const;
    std::string held_elsewhere(const std::string& controller) const;
    // Throws LeaseLost unless the lease was taken or renewed recently enough
    // that it holds for a while yet.
    void check(const std::string& controller) const;
    // From now on take() refuses and check() throws LeaseLost(reason), while
    // the leases held are still renewed and released as before: everything
    // driven under the keeper ends at its next export call. For a process
    // that is stopping.
    void stop_driving(const std::string& reason);

private:
    using Clock = std::chrono::steady_clock;
    // A take, a release and a renewal of one controller run one at a time,
    // each across its database call and its bookkeeping: a release's delete
    // cannot remove the lease that a take has just renewed, nor a renewal
    // bring back the lease that a release has just deleted. A controller's
    // gate lives while a turn uses it; other controllers never wait for it.
    struct Gate {
        std::mutex mutex;
        int users = 0;  // turns holding it or waiting for it
    };
    class Turn;
    std::map<std::string, Gate>::iterator enter(const std::string& controller);
    void leave(std::map<std::string, Gate>::iterator gate);
    void renew_loop();
    void announce_sites();
    void withdraw_sites();  // a failure is left to the announcement's expiry

    LeaseStore& store_;
    const std::string owner_;
    const int leaseSeconds_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::string notDriving_;       // why nothing may be driven any more; "" while it may
    bool announcing_ = false;      // serve_sites() was called
    ServedSites sites_{true, {}};  // every site until serve_sites() names them
    std::mutex announcing_mutex_;  // an announcement or a withdrawal at a time; taken before mutex_
    struct Held {
        Clock::time_point renewed;  // last taken or renewed
        int holders = 0;
    };
    std::map<std::string, Held> held_;
    std::map<std::string, Gate> gates_;  // under mutex_; no gate is waited for with mutex_ held
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
