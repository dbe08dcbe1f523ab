#include "serve/watch.h"

#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>

#include "common/parallel.h"
#include "fleet/clocks.h"
#include "library/doorlink_library.h"

namespace doorlinkd {

Watch::Watch(Store& store, LeaseKeeper& leases, Monitor& monitor, EventHub& hub, Metrics& metrics,
             const std::string& instance, int maxSkew, int parallel)
    : store_(store),
      leases_(leases),
      monitor_(monitor),
      hub_(hub),
      metrics_(metrics),
      who_("doorlinkd:" + instance),
      maxSkew_(maxSkew),
      parallel_(parallel) {}

void Watch::round(const std::vector<Controller>& controllers) {
    std::set<std::string> names;
    for (const Controller& controller : controllers) names.insert(controller.name);
    monitor_.keep_only(names);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = seen_.begin(); it != seen_.end();)
            it = names.count(it->first) ? std::next(it) : seen_.erase(it);
    }
    run_in_parallel(controllers.size(), parallel_, [&](size_t i) {
        if (stopping_) return;
        try {
            watch_one(controllers[i]);
        } catch (const LeaseLost&) {
            // Not ours to drive now: the next lease round lets it go.
        } catch (const std::exception& e) {
            std::cerr << "doorlinkd: monitoring " << controllers[i].name << ": " << e.what() << std::endl;
        }
    });
}

void Watch::watch_one(const Controller& controller) {
    const std::string& name = controller.name;
    leases_.check(name);
    const int socket = library::arm_monitoring(controller);
    metrics_.exchange(name, socket >= 0);
    if (socket >= 0) monitor_.watch(controller, socket);

    leases_.check(name);
    const std::optional<std::string> clock = library::read_clock(controller);
    const std::string localNow = site_local_now(controller);
    metrics_.exchange(name, clock.has_value());
    if (!clock) {
        tell_status(controller, false, std::nullopt, "no answer from " + controller.address);
        return;
    }
    const std::optional<int64_t> skew = clock_skew(*clock, localNow);
    std::string message;
    if (!skew || std::llabs(*skew) > maxSkew_) {
        const std::string off = skew ? std::to_string(*skew) + " s" : "unknown (\"" + *clock + "\")";
        const bool set = set_clock(controller, "skew " + off);
        message =
            (set ? "clock set; it was off by " : "clock off by ") + off + (set ? "" : "; setting it failed");
    }
    tell_status(controller, true, skew, message);
}

bool Watch::set_clock(const Controller& controller, const std::string& why) {
    const bool set = set_to_site_time(controller, leases_, metrics_);
    AuditEntry entry;
    entry.who = who_;
    entry.action = "clock set";
    entry.target = controller.name;
    entry.result = set ? "ok" : "failed: no acknowledgement";
    entry.detail = why;
    store_.audit(entry);
    return set;
}

void Watch::tell_status(const Controller& controller, bool reachable, std::optional<int64_t> skew,
                        const std::string& message) {
    const Seen now{reachable, !skew || std::llabs(*skew) > maxSkew_};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = seen_.find(controller.name);
        const bool changed = it == seen_.end() || it->second.reachable != now.reachable ||
                             (now.reachable && it->second.skewed != now.skewed);
        seen_[controller.name] = now;
        if (!changed) return;
    }
    nlohmann::ordered_json data;
    data["reachable"] = reachable;
    data["skew"] = skew ? nlohmann::ordered_json(*skew) : nlohmann::ordered_json();
    data["message"] = message;
    Event event;
    event.controller = controller.name;
    event.kind = "status";
    event.data = data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    hub_.append({event});
}

}  // namespace doorlinkd
