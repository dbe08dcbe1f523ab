// What serve does on its own, each on time: the lease round (the free
// controllers taken, every lease time), syncs and archives of the
// controllers it holds (at start, every so many minutes, and at once for
// controllers newly taken over), the monitoring rounds, and retention
// (at start and daily). Every wait is on a condition variable, so a stop
// ends the waits at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

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
};

}  // namespace doorlinkd
