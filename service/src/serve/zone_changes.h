// The clocks of the controllers this instance serves, set again when their
// site's zone changes its UTC offset (daylight saving begins or ends): a
// controller keeps wall-clock time and knows nothing of the change, and the
// next monitoring round may be far off. One thread waits on a condition
// variable until a few seconds after the earliest next change among the
// served controllers' zones, and looks again at least every minute, so a
// site whose zone changed or a controller taken over is seen; a stop ends
// the wait at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/thread_group.h"
#include "model/controller.h"

namespace doorlinkd {

class ZoneChanges : public Background {
public:
    // The controllers served now, each with its site's zone.
    using Served = std::function<std::vector<Controller>()>;
    // Sets a controller's clock to its site's local time; why names the
    // change of offset. May throw: the others are set all the same.
    using SetClock = std::function<void(const Controller& controller, const std::string& why)>;
    // Milliseconds since 1970-01-01 00:00:00 UTC: the host's clock, or a
    // test's that runs ahead of it.
    using Now = std::function<int64_t()>;

    // after: how long after a change its clocks are set, so that the host's
    // clock and the controllers' own are past it.
    ZoneChanges(Served served, SetClock setClock, int parallel, Now now,
                std::chrono::milliseconds after = std::chrono::seconds(3));
    ~ZoneChanges() override;
    ZoneChanges(const ZoneChanges&) = delete;
    ZoneChanges& operator=(const ZoneChanges&) = delete;

    void start();
    void stop() override;

private:
    void loop();
    // Sets the clocks of the zones whose change is due; returns how long
    // to wait before looking again.
    std::chrono::milliseconds look();
    void set_clocks(const std::string& zone, int64_t change, const std::vector<Controller>& controllers);

    const Served served_;
    const SetClock setClock_;
    const int parallel_;
    const Now now_;
    const std::chrono::milliseconds after_;
    // By zone: its next change of offset, none when it changes no more.
    std::map<std::string, std::optional<int64_t>> next_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace doorlinkd
