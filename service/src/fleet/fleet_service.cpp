#include "fleet/fleet_service.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "archive/archive.h"
#include "fleet/clocks.h"
#include "fleet/operations.h"
#include "library/doorlink_library.h"
#include "sync/sync.h"
#include "zones/policy_clock.h"

namespace doorlinkd {
namespace {

constexpr size_t kMostWaitingRuns = 8;
// How often the leavers' watch asks for the policy's revision when no save
// of this process woke it: a save of another process is seen this late.
constexpr auto kLeaverRound = std::chrono::milliseconds(250);
constexpr size_t kRemovalsKept = 16;

std::string silent(const Controller& controller, const char* what) {
    return controller.name + " (" + controller.address + ") did not answer " + what;
}

Event sync_event(int64_t run, const SyncResult& result) {
    nlohmann::ordered_json data;
    data["run"] = run;
    data["status"] = status_name(result.status);
    data["cards"] = result.cards;
    data["drift"] = result.drift.size();
    data["message"] = result.message;
    Event event;
    event.controller = result.controller;
    event.kind = "sync";
    event.data = data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return event;
}

}  // namespace

FleetService::FleetService(Store& store, LeaseKeeper& leases, EventHub& hub, Metrics& metrics,
                           DataDir dataDir, int parallel)
    : Background("runs"),
      store_(store),
      leases_(leases),
      hub_(hub),
      metrics_(metrics),
      dataDir_(std::move(dataDir)),
      parallel_(parallel) {}

FleetService::~FleetService() {
    stop();
    join();
}

template <class Work>
auto FleetService::drive(const std::string& name, Work work) {
    const std::optional<Controller> controller = store_.controller(name);
    if (!controller) throw NotFound("no controller named " + name);
    if (!leases_.take(*controller)) throw Busy(leases_.held_elsewhere(*controller));
    const HeldLease held(leases_, name);
    try {
        return work(*controller);
    } catch (const LeaseLost& lost) {
        throw Busy(lost.what());
    }
}

ControllerStatus FleetService::live_status(const std::string& name) {
    return drive(name, [&](const Controller& controller) {
        leases_.check(name);
        const std::optional<std::string> clock = library::read_clock(controller);
        const std::string localNow = site_local_now(controller);
        metrics_.exchange(name, clock.has_value());
        if (!clock) throw Unreachable(silent(controller, "the clock reading"));
        ControllerStatus status;
        status.controller = controller;
        status.reachable = true;
        status.clock = *clock;
        status.skew = clock_skew(*clock, localNow);
        leases_.check(name);
        status.doorState = library::door_state(controller);
        return status;
    });
}

void FleetService::open_door(const std::string& name, int door) {
    if (door < 0 || door > 3) throw Refused("door " + std::to_string(door) + ": doors are 0 to 3");
    drive(name, [&](const Controller& controller) {
        leases_.check(name);
        const bool opened = library::open_door(controller, door);
        metrics_.exchange(name, opened);
        if (!opened) throw Unreachable(silent(controller, "the door command"));
        return 0;
    });
}

int64_t FleetService::set_clock(const std::string& name) {
    return drive(name, [&](const Controller& controller) -> int64_t {
        leases_.check(name);
        const std::optional<std::string> clock = library::read_clock(controller);
        const std::string localNow = site_local_now(controller);
        if (!clock) {
            metrics_.exchange(name, false);
            throw Unreachable(silent(controller, "the clock reading"));
        }
        if (!set_to_site_time(controller, leases_, metrics_))
            throw Unreachable(silent(controller, "the clock setting"));
        // A clock that reads as no time is off by an unknown amount, set all the same.
        return clock_skew(*clock, localNow).value_or(0);
    });
}

int64_t FleetService::start_sync(const std::vector<std::string>& names, const Actor& actor) {
    return enqueue(Kind::Sync, names, actor);
}

int64_t FleetService::start_archive(const std::vector<std::string>& names, const Actor& actor) {
    return enqueue(Kind::Archive, names, actor);
}

SyncDone FleetService::sync_and_wait(const std::vector<std::string>& names, bool checkOnly,
                                     const Actor& actor) {
    auto done = std::make_shared<std::promise<SyncDone>>();
    std::future<SyncDone> result = done->get_future();
    enqueue(Kind::Sync, names, actor, checkOnly, done);
    return result.get();
}

int64_t FleetService::enqueue(Kind kind, const std::vector<std::string>& names, const Actor& actor,
                              bool checkOnly, std::shared_ptr<std::promise<SyncDone>> done) {
    std::vector<Controller> controllers = chosen_controllers(store_, names);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) throw Busy("the service is stopping");
        if (waiting_.size() >= kMostWaitingRuns) {
            throw Busy(std::to_string(waiting_.size()) + " runs are waiting already");
        }
    }
    const std::string owner = actor.who.empty() ? leases_.owner() : actor.who;
    Run run{kind, 0, std::move(controllers), checkOnly, std::move(done)};
    if (kind == Kind::Sync) {
        run.id = store_.begin_sync_run(owner, checkOnly);
        metrics_.sync_run();
    } else {
        run.id = store_.begin_archive_run(owner);
        metrics_.archive_run();
    }
    const int64_t id = run.id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_.push_back(std::move(run));
    }
    wake_.notify_all();
    return id;
}

bool FleetService::pending(Kind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ == kind) return true;
    for (const Run& run : waiting_) {
        if (run.kind == kind) return true;
    }
    return false;
}

bool FleetService::sync_pending() const { return pending(Kind::Sync); }
bool FleetService::archive_pending() const { return pending(Kind::Archive); }

void FleetService::start() {
    // The policy as it is when serve starts, before any call can disable
    // someone: whoever leaves after this is a leaver.
    try {
        look_for_leavers();
    } catch (const std::exception& e) {
        std::cerr << "doorlinkd: reading the policy for the leavers' watch: " << e.what() << std::endl;
    }
    threads_.spawn([this] { run_loop(); });
    threads_.spawn([this] { leaver_loop(); });
}

void FleetService::stop() {
    std::deque<Run> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropped.swap(waiting_);
    }
    for (Run& run : dropped) {
        if (run.done) run.done->set_exception(std::make_exception_ptr(Busy("the service stopped")));
    }
    wake_.notify_all();
    leaverWake_.notify_all();
    leaverSeen_.notify_all();
}

void FleetService::wake_leavers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        leaverLook_ = true;
    }
    leaverWake_.notify_all();
}

LeaverRemoval FleetService::await_leavers(int64_t revision, std::chrono::milliseconds wait) {
    wake_leavers();
    std::unique_lock<std::mutex> lock(mutex_);
    if (!leaverSeen_.wait_for(lock, wait, [&] { return stopping_ || seenRevision_ >= revision; }) ||
        stopping_) {
        throw Busy("the leavers' removal of revision " + std::to_string(revision) + " did not end in time");
    }
    for (const LeaverRemoval& removal : removals_) {
        if (removal.revision >= revision) return removal;
    }
    LeaverRemoval none;
    none.revision = revision;
    return none;
}

void FleetService::leaver_loop() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            leaverWake_.wait_for(lock, kLeaverRound, [this] { return stopping_ || leaverLook_; });
            if (stopping_) return;
            leaverLook_ = false;
        }
        try {
            look_for_leavers();
        } catch (const std::exception& e) {
            std::cerr << "doorlinkd: removing leavers: " << e.what() << std::endl;
        }
    }
}

void FleetService::look_for_leavers() {
    const bool first = seenRevision_ < 0;
    if (!first && store_.policy_revision() == seenRevision_) return;
    // The people are what tells leavers; the card rows of a large fleet stay in the database.
    PolicyAt newest = store_.policy(CardRowsRead::none);
    LeaverRemoval removal;
    // At start every list is compiled without the leavers anyway: the first
    // runs see to those who left while no one watched.
    if (!first) {
        removal = remove_leavers(store_, leases_, dataDir_, seen_, newest, &turns_, parallel_,
                                 Actor{leases_.owner(), ""});
        publish(removal.done.run, removal.done.results);
    }
    seen_ = std::move(newest.policy);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seenRevision_ = newest.revision;
        if (!removal.people.empty()) {
            removals_.push_back(std::move(removal));
            if (removals_.size() > kRemovalsKept) removals_.pop_front();
        }
    }
    leaverSeen_.notify_all();
}

void FleetService::run_loop() {
    for (;;) {
        Run run;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            run = std::move(waiting_.front());
            waiting_.pop_front();
            running_ = run.kind;
        }
        try {
            if (run.kind == Kind::Sync) {
                std::vector<SyncResult> results = run_sync(run);
                if (run.done) run.done->set_value(SyncDone{run.id, std::move(results)});
            } else {
                run_archive(run);
            }
        } catch (const std::exception& e) {
            std::cerr << "doorlinkd: " << (run.kind == Kind::Sync ? "sync" : "archive") << " run " << run.id
                      << " ended early: " << e.what() << std::endl;
            if (run.done) run.done->set_exception(std::current_exception());
        }
        std::lock_guard<std::mutex> lock(mutex_);
        running_.reset();
    }
}

std::vector<SyncResult> FleetService::run_sync(const Run& run) {
    SyncOptions options;
    options.parallel = parallel_;
    options.run = run.id;
    options.checkOnly = run.checkOnly;
    options.turns = &turns_;
    options.atMs = policy_now_ms();
    std::vector<SyncResult> results = sync_controllers(store_, leases_, dataDir_, run.controllers, options);
    publish(run.id, results);
    return results;
}

void FleetService::publish(int64_t run, const std::vector<SyncResult>& results) {
    if (results.empty()) return;
    std::vector<Event> events;
    for (const SyncResult& result : results) {
        if (result.status != SyncStatus::Busy) {
            metrics_.exchange(result.controller, result.status != SyncStatus::Unreachable);
        }
        metrics_.sync_result(status_name(result.status), static_cast<int>(result.drift.size()));
        events.push_back(sync_event(run, result));
    }
    hub_.append(std::move(events));
}

void FleetService::run_archive(const Run& run) {
    const std::vector<ArchiveResult> results =
        archive_controllers(store_, leases_, dataDir_, run.controllers, parallel_, run.id);
    for (const ArchiveResult& result : results) {
        if (result.status != ArchiveStatus::Busy) {
            metrics_.exchange(result.controller, result.status == ArchiveStatus::Done);
        }
    }
    // The store made the records' events with the records.
    hub_.poke();
}

}  // namespace doorlinkd
