// One monitoring round over the controllers this instance serves: each gets
// its monitoring armed again (a controller that restarted forgot where to
// push) and its clock read; a clock off by more than the limit is set and
// audited. A "status" event tells when a controller's reachability changes
// or its clock's skew crosses the limit, not at every round.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fleet/event_hub.h"
#include "fleet/metrics.h"
#include "leases/lease_keeper.h"
#include "model/controller.h"
#include "serve/monitor.h"
#include "store/store.h"

namespace doorlinkd {

class Watch {
public:
    Watch(Store& store, LeaseKeeper& leases, Monitor& monitor, EventHub& hub, Metrics& metrics,
          const std::string& instance, int maxSkew, int parallel);

    // Every controller given, at most `parallel` at once; those not given
    // are no longer monitored. Ends early (no further controller starts)
    // once stop() was called.
    void round(const std::vector<Controller>& controllers);
    void stop() { stopping_ = true; }
    // Sets the controller's clock to its site's local time, under its lease
    // (LeaseLost when not held), and audits it ("clock set", detail why);
    // false when the controller did not acknowledge.
    bool set_clock(const Controller& controller, const std::string& why);

private:
    struct Seen {
        bool reachable = false;
        bool skewed = false;  // off by more than the limit
    };
    void watch_one(const Controller& controller);
    void tell_status(const Controller& controller, bool reachable, std::optional<int64_t> skew,
                     const std::string& message);

    Store& store_;
    LeaseKeeper& leases_;
    Monitor& monitor_;
    EventHub& hub_;
    Metrics& metrics_;
    const std::string who_;  // "doorlinkd:<instance>", in the audit
    const int maxSkew_;
    const int parallel_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::map<std::string, Seen> seen_;
};

}  // namespace doorlinkd
