// The fleet as serve drives it: live calls on one controller at a time under
// its lease, and sync and archive runs, begun at once and run one after the
// other on a thread of their own (a sync and an archive of one controller
// never overlap, and neither do two archives of one data directory). A
// thread of its own watches the policy's revision and removes leavers' cards
// at once, ahead of the runs: a sync on one of their controllers gives way.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/thread_group.h"
#include "fleet/event_hub.h"
#include "fleet/fleet.h"
#include "fleet/leaver_removal.h"
#include "fleet/metrics.h"
#include "leases/lease_keeper.h"
#include "library/data_dir.h"
#include "store/store.h"
#include "sync/turns.h"

namespace doorlinkd {

class FleetService : public Fleet, public Background {
public:
    FleetService(Store& store, LeaseKeeper& leases, EventHub& hub, Metrics& metrics, DataDir dataDir,
                 int parallel);
    ~FleetService() override;
    FleetService(const FleetService&) = delete;
    FleetService& operator=(const FleetService&) = delete;

    ControllerStatus live_status(const std::string& name) override;
    void open_door(const std::string& name, int door) override;
    int64_t set_clock(const std::string& name) override;
    // Busy while 8 runs wait already, or once stopping.
    int64_t start_sync(const std::vector<std::string>& names, const Actor& actor) override;
    int64_t start_archive(const std::vector<std::string>& names, const Actor& actor) override;

    // A sync run as start_sync begins it, waited for; Busy as start_sync, or
    // when the service stops before the run ends.
    SyncDone sync_and_wait(const std::vector<std::string>& names, bool checkOnly, const Actor& actor);

    // The leavers' watch looks at once rather than at its next round.
    void wake_leavers() override;
    // Waits (at most `wait`) until the watch has seen the revision, and
    // returns the removal of the leavers it made (none found: no people);
    // Busy when the wait ends first.
    LeaverRemoval await_leavers(int64_t revision, std::chrono::milliseconds wait);

    // Whether a run of the kind waits or goes on: a schedule adds no second.
    bool sync_pending() const;
    bool archive_pending() const;

    // Starts the thread of the runs.
    void start();
    // Runs that have not begun are dropped (their ids stay without results);
    // the one going on ends at its next export call once the lease keeper
    // stops driving (the caller's to tell it).
    void stop() override;

private:
    enum class Kind { Sync, Archive };
    struct Run {
        Kind kind;
        int64_t id;
        std::vector<Controller> controllers;
        bool checkOnly = false;
        std::shared_ptr<std::promise<SyncDone>> done;  // set when someone waits for it
    };

    int64_t enqueue(Kind kind, const std::vector<std::string>& names, const Actor& actor,
                    bool checkOnly = false, std::shared_ptr<std::promise<SyncDone>> done = nullptr);
    void run_loop();
    void leaver_loop();
    void look_for_leavers();
    std::vector<SyncResult> run_sync(const Run& run);
    void publish(int64_t run, const std::vector<SyncResult>& results);
    void run_archive(const Run& run);
    bool pending(Kind kind) const;
    // work(controller) under the controller's lease: NotFound, Busy.
    template <class Work>
    auto drive(const std::string& name, Work work);

    Store& store_;
    LeaseKeeper& leases_;
    EventHub& hub_;
    Metrics& metrics_;
    const DataDir dataDir_;
    const int parallel_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Run> waiting_;
    std::optional<Kind> running_;
    bool stopping_ = false;

    ControllerTurns turns_;
    // The leavers' watch: the newest policy it has seen, and the removals it
    // made, the latest few kept for await_leavers.
    std::condition_variable leaverWake_;  // under mutex_
    bool leaverLook_ = false;             // under mutex_: look at once
    std::condition_variable leaverSeen_;  // under mutex_: seenRevision_ moved
    int64_t seenRevision_ = -1;           // under mutex_
    Policy seen_;                         // the leavers' thread's alone; without card rows
    std::deque<LeaverRemoval> removals_;  // under mutex_
};

}  // namespace doorlinkd
