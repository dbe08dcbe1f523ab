#include "serve/zone_changes.h"

#include <algorithm>
#include <iostream>

#include "common/parallel.h"
#include "leases/lease_keeper.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

using std::chrono::milliseconds;

// The longest wait between two looks at the served controllers' zones.
constexpr milliseconds kLongestWait = std::chrono::minutes(1);

// "yyyy-mm-dd hh:mm:ss" of an instant in zone.
std::string shown_time(int64_t instantMs, const std::string& zone) {
    const std::string text = local_text(instantMs, zone);
    return text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2) + " " + text.substr(8, 2) +
           ":" + text.substr(10, 2) + ":" + text.substr(12, 2);
}

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
    const std::string why = zone + " changed its UTC offset at " + shown_time(change, "UTC") + " UTC (" +
                            shown_time(change, zone) + " local)";
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
