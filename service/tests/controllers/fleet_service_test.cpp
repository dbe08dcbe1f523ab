// The fleet's live calls, as the REST API and MQTT make them, against a
// simulated controller: what each does, and how each tells what failed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "fleet/fleet_service.h"
#include "support/sim_fixture.h"

namespace doorlinkd {
namespace {

std::unique_ptr<Store> store_in(const std::string& directory) {
    std::filesystem::create_directories(directory);
    return Store::open("sqlite:" + directory + "/fleet.db");
}

class LiveCalls : public doorlink::testing::SimulatedController {
protected:
    void SetUp() override {
        SimulatedController::SetUp();
        store->initialise();
        store->add_controller(Controller{"door", address, mac, 1, false, true});
        store->add_controller(Controller{"gone", doorlink::testing::silent_address(), mac, 2, false, true});
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    const std::string directory =
        (std::filesystem::temp_directory_path() / ("fleet_service_" + std::to_string(::getpid()))).string();
    std::unique_ptr<Store> store = store_in(directory);
    LeaseKeeper leases{*store, "serve", 30};
    Metrics metrics;
    EventHub hub{*store, metrics};
    FleetService fleet{*store, leases, hub, metrics, DataDir(std::getenv("DOORLINK_HOME")), 4};
};

TEST_F(LiveCalls, ReadOpenAndSetAndSayWhatFailed) {
    sim.update_state(id, [](doorsim::ControllerState& s) {
        s.clockOffsetSeconds = -300;
        s.doors.currentState = {2, 2};
    });
    const ControllerStatus status = fleet.live_status("door");
    EXPECT_TRUE(status.reachable);
    EXPECT_EQ(status.clock.size(), 17u);
    ASSERT_TRUE(status.skew);
    EXPECT_NEAR(static_cast<double>(*status.skew), -300, 2);
    EXPECT_EQ(status.doorState, 2);

    EXPECT_NEAR(static_cast<double>(fleet.set_clock("door")), -300, 2);
    EXPECT_NEAR(static_cast<double>(*fleet.live_status("door").skew), 0, 2);
    fleet.open_door("door", 3);
    EXPECT_EQ(sim.state(id).doors.forcedActuations[3], 1);
    EXPECT_THROW(fleet.open_door("door", 4), Refused);
    EXPECT_THROW(fleet.live_status("nobody"), NotFound);
    EXPECT_THROW(fleet.start_sync({"door", "nobody"}, Actor{"test", ""}), NotFound);
    EXPECT_THROW(fleet.set_clock("gone"), Unreachable);

    // Each call gave its lease back; another instance's lease makes it busy.
    ASSERT_TRUE(store->take_lease("door", "another instance", 30));
    try {
        fleet.open_door("door", 0);
        ADD_FAILURE() << "opened a door whose lease another instance holds";
    } catch (const Busy& busy) {
        EXPECT_NE(std::string(busy.what()).find("another instance"), std::string::npos) << busy.what();
    }
    EXPECT_NE(metrics.prometheus_text(0).find("doorlinkd_exchange_failures_total{controller=\"gone\"} 1"),
              std::string::npos);
}

}  // namespace
}  // namespace doorlinkd
