// What serve does on its own, each on time: the lease round (the free
// controllers taken, every lease time), syncs and archives of the
// controllers it holds (at start, every so many minutes, and at once for
// controllers newly taken over), a sync of each site's controllers at the
// site's local midnight (by the policy's clock: the date changes what they
// must hold), the monitoring rounds, and retention (at start and daily).
// Every wait is on a condition variable, so a stop ends the waits at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "common/thread_group.h"
#include "fleet/fleet_service.h"
#include "model/access.h"
#include "serve/serve_options.h"
#include "serve/served_controllers.h"
#include "serve/watch.h"
#include "store/store.h"

namespace doorlinkd {

class Schedule : public Background {
public:
    Schedule(Store& store, ServedControllers& served, FleetService& fleet, Watch& watch,
             const ServeOptions& options);
    ~Schedule();
    Schedule(const Schedule&) = delete;
    Schedule& operator=(const Schedule&) = delete;

    void start();
    void stop() override;

private:
    using Clock = std::chrono::steady_clock;
    void plan_loop();
    void watch_loop();
    // Waits until the time or a stop; false once stopping.
    bool wait_until(Clock::time_point when);
    void lease_round();
    void start_runs(const std::vector<std::string>& names, bool sync, bool archive);
    // Syncs the controllers of each site whose local midnight came; returns
    // when the next one comes.
    Clock::time_point midnight_runs();
    void remove_old();

    Store& store_;
    ServedControllers& served_;
    FleetService& fleet_;
    Watch& watch_;
    const ServeOptions options_;
    const Actor self_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    // By site: its zone and its next local midnight, ms by the policy's
    // clock; sites are looked at from the start on, so a midnight that
    // passed while serve started is not missed.
    struct Midnight {
        std::string zone;
        int64_t at = 0;
    };
    std::map<std::string, Midnight> midnights_;
    int64_t midnightsLookedAt_ = 0;
};

}  // namespace doorlinkd
