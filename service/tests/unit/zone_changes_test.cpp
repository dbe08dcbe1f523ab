// The clocks set again at a change of a zone's offset: a clock made to run
// just before Berlin's clocks go forward shows that the change is waited
// for, not a monitoring round, and that only that zone's controllers are set.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fleet/clocks.h"
#include "serve/zone_changes.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

using namespace std::chrono_literals;

Controller controller_in(const std::string& name, const std::string& zone) {
    Controller controller;
    controller.name = name;
    controller.zone = zone;
    return controller;
}

TEST(ZoneChanges, SetsTheClocksOfTheZoneThatChangedAfterItsChangeOnly) {
    // Berlin goes forward at 01:00 UTC on 2026-03-29; New York went on the
    // 8th and goes back in November; Kolkata keeps its offset.
    const int64_t change = *next_transition("Europe/Berlin", instant_of("20260301000000", "UTC").utcMs);
    ASSERT_EQ(local_text(change, "UTC"), "20260329010000");
    const int64_t ahead = change - 300 - host_now_ms();  // 300 ms before the change, running on
    const auto now = [ahead] { return host_now_ms() + ahead; };
    const std::vector<Controller> served = {
        controller_in("berlin1", "Europe/Berlin"), controller_in("kolkata", "Asia/Kolkata"),
        controller_in("york", "America/New_York"), controller_in("berlin2", "Europe/Berlin")};
    struct Setting {
        std::string name, why;
        int64_t when;
    };
    std::mutex mutex;
    std::condition_variable told;
    std::vector<Setting> settings;
    ZoneChanges changes([&] { return served; },
                        [&](const Controller& controller, const std::string& why) {
                            std::lock_guard<std::mutex> lock(mutex);
                            settings.push_back({controller.name, why, now()});
                            told.notify_all();
                        },
                        2, now, 200ms);
    changes.start();
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(told.wait_for(lock, 10s, [&] { return settings.size() >= 2; }));
    }
    std::this_thread::sleep_for(500ms);  // nothing more comes
    const auto stopping = std::chrono::steady_clock::now();
    changes.stop();
    // The wait for the next look, a minute away, ends at once.
    EXPECT_TRUE(changes.wait_stopped(stopping + 2s));

    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(settings.size(), 2u);
    std::sort(settings.begin(), settings.end(),
              [](const Setting& a, const Setting& b) { return a.name < b.name; });
    EXPECT_EQ(settings[0].name, "berlin1");
    EXPECT_EQ(settings[1].name, "berlin2");
    for (const Setting& setting : settings) {
        EXPECT_GE(setting.when, change + 200);
        EXPECT_EQ(
            setting.why,
            "Europe/Berlin changed its UTC offset at 2026-03-29 01:00:00 UTC (2026-03-29 03:00:00 local)");
    }
}

}  // namespace
}  // namespace doorlinkd
