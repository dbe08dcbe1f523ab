// The requests the command line hands to serve through the database (a
// sync, an apply, the removal of a leaver it disabled), taken up within a
// fraction of a second by one instance, run as if the command line had run
// them, and answered with their outcome.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include "common/thread_group.h"
#include "fleet/fleet_service.h"
#include "store/store.h"

namespace doorlinkd {

// The kinds of request, with their arguments as JSON:
// "sync" {"names": [...], "check": bool}; "apply" {"plan": N} or {"now": true};
// "leavers" {"revision": N}.
inline constexpr const char* kSyncWork = "sync";
inline constexpr const char* kApplyWork = "apply";
inline constexpr const char* kLeaversWork = "leavers";

class WorkTaker : public Background {
public:
    WorkTaker(Store& store, FleetService& fleet, std::string owner);
    ~WorkTaker() override;
    WorkTaker(const WorkTaker&) = delete;
    WorkTaker& operator=(const WorkTaker&) = delete;

    void start();
    void stop() override;

private:
    void take_loop();
    Outcome run(const WorkRequest& request);

    Store& store_;
    FleetService& fleet_;
    const std::string owner_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace doorlinkd
