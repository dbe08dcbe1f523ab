#include "serve/zone_changes.h"

#include <algorithm>
#include <iostream>

#include "common/parallel.h"
#include "leases/lease_keeper.h"
#include "zones/instant_text.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

using std::chrono::milliseconds;

// The longest wait between two looks at the served controllers' zones.
constexpr milliseconds kLongestWait = std::chrono::minutes(1);

}  // namespace

ZoneChanges::ZoneChanges(Served served, SetClock setClock, int parallel, Now now, milliseconds after)
    : Background("zone changes"),
      served_(std::move(served)),
      setClock_(std::move(setClock)),
      parallel_(parallel),
      now_(std::move(now)),
      after_(after) {}

ZoneChanges::~ZoneChanges() {
    stop();
    join();
}

void ZoneChanges::start() {
    threads_.spawn([this] { loop(); });
}

void ZoneChanges::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

void ZoneChanges::loop() {
    for (;;) {
        milliseconds wait = kLongestWait;
        try {
            wait = look();
        } catch (const std::exception& e) {
            std::cerr << "doorlinkd: the clocks at a change of offset: " << e.what() << std::endl;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, wait, [this] { return stopping_; })) return;
    }
}

milliseconds ZoneChanges::look() {
    std::map<std::string, std::vector<Controller>> byZone;
    for (const Controller& controller : served_()) byZone[controller.zone].push_back(controller);
    for (auto it = next_.begin(); it != next_.end();)
        it = byZone.count(it->first) ? std::next(it) : next_.erase(it);

    milliseconds wait = kLongestWait;
    for (const auto& [zone, controllers] : byZone) {
        int64_t now = now_();
        auto next = next_.find(zone);
        if (next == next_.end()) next = next_.emplace(zone, next_transition(zone, now)).first;
        if (!next->second) continue;
        if (now >= *next->second + after_.count()) {
            set_clocks(zone, *next->second, controllers);
            now = now_();
            next->second = next_transition(zone, now);
            if (!next->second) continue;
        }
        wait = std::min(wait, milliseconds(std::max<int64_t>(0, *next->second + after_.count() - now)));
    }
    return wait;
}

void ZoneChanges::set_clocks(const std::string& zone, int64_t change,
                             const std::vector<Controller>& controllers) {
    const std::string why = zone + " changed its UTC offset at " + readable_time(local_text(change, "UTC")) +
                            " UTC (" + readable_time(local_text(change, zone)) + " local)";
    run_in_parallel(controllers.size(), parallel_, [&](size_t i) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
        }
        try {
            setClock_(controllers[i], why);
        } catch (const LeaseLost&) {
            // Not ours to drive now: the next lease round lets it go.
        } catch (const std::exception& e) {
            std::cerr << "doorlinkd: setting the clock of " << controllers[i].name << ": " << e.what()
                      << std::endl;
        }
    });
}

}  // namespace doorlinkd
