#include "serve/schedule.h"

#include <algorithm>
#include <iostream>

#include "serve/midnights.h"
#include "zones/policy_clock.h"

namespace doorlinkd {
namespace {

constexpr int64_t kDayMs = int64_t{24} * 60 * 60 * 1000;

// Runs work, telling on standard error what stopped it: the schedule goes on.
template <class Work>
void keep_going(const char* what, Work work) {
    try {
        work();
    } catch (const std::exception& e) {
        std::cerr << "doorlinkd: " << what << ": " << e.what() << std::endl;
    }
}

}  // namespace

Schedule::Schedule(Store& store, ServedControllers& served, FleetService& fleet, Watch& watch,
                   const ServeOptions& options)
    : Background("schedule"),
      store_(store),
      served_(served),
      fleet_(fleet),
      watch_(watch),
      options_(options),
      self_{"doorlinkd:" + options.instance, ""} {}

Schedule::~Schedule() {
    stop();
    join();
}

void Schedule::start() {
    midnightsLookedAt_ = policy_now_ms();
    // The first lease round before the threads: the first monitoring round
    // and the first runs have controllers to work on.
    keep_going("taking leases", [this] { lease_round(); });
    threads_.spawn([this] { plan_loop(); });
    threads_.spawn([this] { watch_loop(); });
}

void Schedule::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    watch_.stop();
    wake_.notify_all();
}

bool Schedule::wait_until(Clock::time_point when) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_until(lock, when, [this] { return stopping_; });
    return !stopping_;
}

void Schedule::lease_round() {
    std::vector<std::string> taken;
    for (const Controller& controller : served_.refresh()) taken.push_back(controller.name);
    // Controllers taken over (all of them at start) are synced and archived
    // at once: their last run may lie far back, or have been cut short.
    start_runs(taken, options_.syncEvery > 0, options_.archiveEvery > 0);
}

void Schedule::start_runs(const std::vector<std::string>& names, bool sync, bool archive) {
    if (names.empty()) return;
    if (sync) keep_going("starting a sync", [&] { fleet_.start_sync(names, self_); });
    if (archive) keep_going("starting an archive", [&] { fleet_.start_archive(names, self_); });
}

Schedule::Clock::time_point Schedule::midnight_runs() {
    std::map<std::string, std::vector<Controller>> bySite;
    for (const Controller& controller : served_.controllers()) bySite[controller.site].push_back(controller);
    for (auto it = midnights_.begin(); it != midnights_.end();)
        it = bySite.count(it->first) ? std::next(it) : midnights_.erase(it);

    const int64_t now = policy_now_ms();
    int64_t next = now + kDayMs;
    for (const auto& [site, controllers] : bySite) {
        // A site's controllers share its zone; one newly served, or whose
        // zone changed, has its midnights counted from the last look.
        const std::string& zone = controllers.front().zone;
        auto midnight = midnights_.find(site);
        if (midnight == midnights_.end() || midnight->second.zone != zone) {
            const Midnight first{zone, next_local_midnight(zone, midnightsLookedAt_)};
            midnight = midnights_.insert_or_assign(site, first).first;
        }
        if (now >= midnight->second.at) {
            std::vector<std::string> names;
            for (const Controller& controller : controllers) names.push_back(controller.name);
            start_runs(names, true, false);
            midnight->second.at = next_local_midnight(zone, now);
        }
        next = std::min(next, midnight->second.at);
    }
    midnightsLookedAt_ = now;
    return Clock::now() + std::chrono::milliseconds(next - now);
}

void Schedule::remove_old() {
    const int64_t days = options_.keepDays;
    // By the database's clock: a controller whose clock was wrong when it
    // wrote a record takes nothing away early.
    const Removed removed = store_.remove_older_than(store_.now_ms() - days * kDayMs);
    if (removed.records + removed.photos + removed.events + removed.audit + removed.outbox > 0) {
        std::cerr << "doorlinkd: removed what is older than " << days << " days: " << removed.records
                  << " records, " << removed.photos << " photos, " << removed.events << " events, "
                  << removed.audit << " audit entries, " << removed.outbox << " outbox messages" << std::endl;
    }
}

void Schedule::plan_loop() {
    using std::chrono::minutes;
    const auto began = Clock::now();
    const auto leaseEvery = std::chrono::seconds(options_.leaseSeconds);
    auto nextLeases = began + leaseEvery;
    // The first sync and archive came with the first lease round.
    auto nextSync = began + minutes(options_.syncEvery);
    auto nextArchive = began + minutes(options_.archiveEvery);
    auto nextRetention = began;
    for (;;) {
        const auto now = Clock::now();
        auto next = now + std::chrono::hours(24);
        if (options_.keepDays > 0) {
            if (now >= nextRetention) {
                keep_going("removing old data", [this] { remove_old(); });
                nextRetention = now + std::chrono::hours(24);
            }
            next = std::min(next, nextRetention);
        }
        if (now >= nextLeases) {
            keep_going("taking leases", [this] { lease_round(); });
            nextLeases = now + leaseEvery;
        }
        next = std::min(next, nextLeases);
        if (options_.syncEvery > 0) {
            if (now >= nextSync) {
                if (!fleet_.sync_pending()) start_runs(served_.names(), true, false);
                nextSync = now + minutes(options_.syncEvery);
            }
            next = std::min(next, nextSync);
            keep_going("the midnight syncs", [&] { next = std::min(next, midnight_runs()); });
        }
        if (options_.archiveEvery > 0) {
            if (now >= nextArchive) {
                if (!fleet_.archive_pending()) start_runs(served_.names(), false, true);
                nextArchive = now + minutes(options_.archiveEvery);
            }
            next = std::min(next, nextArchive);
        }
        if (!wait_until(next)) return;
    }
}

void Schedule::watch_loop() {
    for (;;) {
        const auto began = Clock::now();
        keep_going("monitoring", [this] { watch_.round(served_.controllers()); });
        if (!wait_until(began + std::chrono::seconds(options_.monitorEvery))) return;
    }
}

}  // namespace doorlinkd
