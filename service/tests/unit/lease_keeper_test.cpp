// The lease keeper on a real database, on both backends (skipped, saying
// why, without DOORLINKD_TEST_POSTGRES). Races between a take, a release and
// a renewal of one controller are forced by stopping one of them inside its
// database call.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "leases/lease_keeper.h"
#include "serve/served_controllers.h"
#include "store/store.h"
#include "unit/forwarding_store.h"
#include "unit/test_databases.h"

namespace doorlinkd {
namespace {

using namespace std::chrono_literals;

// A call stopped longer than this is let go, so that a test that failed
// before letting it go ends all the same.
constexpr auto kLatchedAtMost = 10s;
// A call of the keeper that has not ended after this is stuck for good.
constexpr auto kStuck = 20s;

// Once armed, stops the next call for the controller until the test opens
// it.
class Latch {
public:
    void arm(const std::string& controller) {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = controller;
        arrived_ = opened_ = ended_ = false;
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        opened_ = true;
        changed_.notify_all();
    }
    bool wait_arrived() { return wait_for(arrived_); }
    bool wait_ended() { return wait_for(ended_); }

    template <typename Call>
    auto pass(const std::string& controller, const Call& call) {
        bool stopped = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (armed_ == controller) {
                armed_.clear();
                stopped = arrived_ = true;
                changed_.notify_all();
                changed_.wait_for(lock, kLatchedAtMost, [this] { return opened_; });
            }
        }
        struct Ended {
            Latch& latch;
            bool stopped;
            ~Ended() {
                if (!stopped) return;
                std::lock_guard<std::mutex> lock(latch.mutex_);
                latch.ended_ = true;
                latch.changed_.notify_all();
            }
        } ended{*this, stopped};
        return call();
    }

private:
    bool wait_for(const bool& flag) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kStuck, [&] { return flag; });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string armed_;
    bool arrived_ = false;
    bool opened_ = false;
    bool ended_ = false;
};

// The database's lease calls, each stoppable at a latch of its own.
class LatchedStore : public test::ForwardingStore {
public:
    using ForwardingStore::ForwardingStore;
    bool take_lease(const std::string& controller, const std::string& owner, int seconds) override {
        return takes.pass(controller,
                          [&] { return ForwardingStore::take_lease(controller, owner, seconds); });
    }
    void release_lease(const std::string& controller, const std::string& owner) override {
        releases.pass(controller, [&] { ForwardingStore::release_lease(controller, owner); });
    }
    Latch takes;
    Latch releases;
};

// What a call of the keeper on another thread returned; a call stuck for
// good (a deadlock) ends the program rather than hang the run.
template <typename T>
T result_of(std::future<T>& call, const char* what) {
    if (call.wait_for(kStuck) != std::future_status::ready) {
        std::fprintf(stderr, "%s has not ended: the lease keeper is deadlocked\n", what);
        std::abort();
    }
    return call.get();
}

class LeaseKeeperTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        const std::string reason = test::unavailable_reason(GetParam());
        if (!reason.empty()) GTEST_SKIP() << reason;
        database = std::make_unique<test::TestDatabase>(GetParam());
        store = Store::open(database->location());
        store->initialise();
    }
    std::unique_ptr<test::TestDatabase> database;
    std::unique_ptr<Store> store;
};

// A lease outlives its time while the keeper renews it; one another owner
// takes once it has expired is lost at once, and a refusal names the owner.
TEST_P(LeaseKeeperTest, RenewsWhatItHoldsAndLosesWhatAnotherTook) {
    LeaseKeeper keeper(*store, "keeper", 1);
    ASSERT_TRUE(keeper.take("door"));
    std::this_thread::sleep_for(2500ms);  // two and a half lease times
    EXPECT_NO_THROW(keeper.check("door"));
    EXPECT_FALSE(store->take_lease("door", "other", 1));
    LeaseKeeper other(*store, "other", 1);
    EXPECT_FALSE(other.take("door"));
    EXPECT_EQ(other.held_elsewhere("door"), "the lease of door is held by keeper");

    // Taken behind the keeper's back: its next renewal finds it lost.
    store->release_lease("door", "keeper");
    ASSERT_TRUE(store->take_lease("door", "thief", 30));
    std::this_thread::sleep_for(700ms);
    EXPECT_THROW(keeper.check("door"), LeaseLost);
    EXPECT_THROW(keeper.check("gate"), LeaseLost);  // never taken
}

// The keeper's end gives its leases back at once, without their expiry.
TEST_P(LeaseKeeperTest, ReleasesEverythingItHoldsWhenItEnds) {
    {
        LeaseKeeper keeper(*store, "keeper", 30);
        ASSERT_TRUE(keeper.take("door"));
        ASSERT_TRUE(keeper.take("gate"));
    }
    EXPECT_FALSE(store->lease_holder("door"));
    EXPECT_FALSE(store->lease_holder("gate"));
}

// Holders within the process are counted: the lease goes back with its last
// holder. A keeper that stopped driving takes nothing more and fails every
// check with its reason, and still gives back what it holds.
TEST_P(LeaseKeeperTest, CountsItsHoldersAndStopsDriving) {
    LeaseKeeper keeper(*store, "keeper", 30);
    ASSERT_TRUE(keeper.take("door"));
    ASSERT_TRUE(keeper.take("door"));
    keeper.release("door");
    EXPECT_EQ(store->lease_holder("door"), "keeper");
    EXPECT_NO_THROW(keeper.check("door"));
    keeper.release("door");
    EXPECT_FALSE(store->lease_holder("door"));

    ASSERT_TRUE(keeper.take("door"));
    keeper.stop_driving("the service is stopping");
    EXPECT_FALSE(keeper.take("gate"));
    EXPECT_FALSE(store->lease_holder("gate"));
    EXPECT_EQ(keeper.held_elsewhere("gate"), "the service is stopping");
    EXPECT_THROW(keeper.check("door"), LeaseLost);
    keeper.release("door");
    EXPECT_FALSE(store->lease_holder("door"));
}

// A take while the last holder's release is in its database call waits for
// that release: the release's delete cannot remove the lease the take has
// just renewed, which would leave the controller driven here and free for
// any other instance. Other controllers are taken meanwhile.
TEST_P(LeaseKeeperTest, ATakeDuringAReleaseKeepsTheLease) {
    LatchedStore latched(*store);
    LeaseKeeper keeper(latched, "keeper", 30);
    ASSERT_TRUE(keeper.take("door"));
    latched.releases.arm("door");
    auto releasing = std::async(std::launch::async, [&] { keeper.release("door"); });
    ASSERT_TRUE(latched.releases.wait_arrived());
    auto taking = std::async(std::launch::async, [&] { return keeper.take("door"); });
    // Unless it waits, the take is done well within this.
    (void)taking.wait_for(1s);
    auto other = std::async(std::launch::async, [&] { return keeper.take("gate"); });
    EXPECT_EQ(other.wait_for(5s), std::future_status::ready) << "gate waited for the release of door";
    latched.releases.open();
    result_of(releasing, "the release");
    ASSERT_TRUE(result_of(taking, "the take"));
    EXPECT_TRUE(result_of(other, "the take of gate"));

    EXPECT_EQ(store->lease_holder("door"), "keeper");
    EXPECT_NO_THROW(keeper.check("door"));
    EXPECT_FALSE(store->take_lease("door", "other", 30));
}

// A renewal never brings back a lease that its last holder released: not
// when the release comes while the renewal is in its database call (door),
// nor when it comes after the renewal listed the leases to renew (gate,
// renewed after door). Such a lease would keep every other instance off the
// controller until it expired. The release of gate does not wait for door.
TEST_P(LeaseKeeperTest, ARenewalNeverBringsBackAReleasedLease) {
    LatchedStore latched(*store);
    LeaseKeeper keeper(latched, "keeper", 3);  // renewed every half second
    for (const char* name : {"door", "gate", "yard"}) ASSERT_TRUE(keeper.take(name));
    latched.takes.arm("door");
    ASSERT_TRUE(latched.takes.wait_arrived());  // the renewal of door, stopped in the database
    auto releasingGate = std::async(std::launch::async, [&] { keeper.release("gate"); });
    EXPECT_EQ(releasingGate.wait_for(5s), std::future_status::ready) << "gate waited for the renewal of door";
    auto releasingDoor = std::async(std::launch::async, [&] { keeper.release("door"); });
    // Unless it waits, the release is done well within this.
    (void)releasingDoor.wait_for(1s);
    latched.takes.open();
    ASSERT_TRUE(latched.takes.wait_ended());
    result_of(releasingDoor, "the release of door");
    result_of(releasingGate, "the release of gate");
    // Renewals go in name order: once yard's comes, gate's turn has passed.
    latched.takes.arm("yard");
    ASSERT_TRUE(latched.takes.wait_arrived());
    latched.takes.open();

    for (const char* name : {"door", "gate"}) {
        EXPECT_FALSE(store->lease_holder(name)) << name;
        EXPECT_TRUE(store->take_lease(name, "other", 30)) << name;
        EXPECT_THROW(keeper.check(name), LeaseLost) << name;
    }
    EXPECT_NO_THROW(keeper.check("yard"));
}

// An instance of one site: it says so, again with each renewal, and takes
// the leases of that site's controllers only; a controller moved to another
// site is let go at the next lease round; stopping withdraws the site.
TEST_P(LeaseKeeperTest, AnInstanceOfOneSiteDrivesOnlyItsControllers) {
    const auto controller_at = [&](const std::string& name, int number, const std::string& site) {
        store->add_site(Site{site, "UTC", ""});
        Controller controller;
        controller.name = name;
        controller.address = "127.0.0.1";
        controller.mac = "0011223344" + std::to_string(10 + number);
        controller.number = number;
        controller.site = site;
        store->add_controller(controller);
        return controller;
    };
    const Controller door = controller_at("door", 1, "north");
    const Controller gate = controller_at("gate", 2, "south");

    LeaseKeeper keeper(*store, "keeper", 1);
    keeper.serve_sites({"north"});
    ServedControllers served(*store, keeper);
    served.refresh();
    EXPECT_EQ(served.names(), std::vector<std::string>{"door"});
    EXPECT_FALSE(store->lease_holder("gate"));
    EXPECT_FALSE(keeper.take(gate));
    EXPECT_EQ(keeper.held_elsewhere(gate),
              "gate is at site south, which this instance does not serve (north)");

    std::this_thread::sleep_for(2500ms);  // two and a half lease times
    const ServedSites sites = store->served_sites();
    EXPECT_TRUE(sites.serves("north"));
    EXPECT_FALSE(sites.serves("south"));

    store->move_controller("door", "south");
    served.refresh();
    EXPECT_TRUE(served.names().empty());
    EXPECT_FALSE(store->lease_holder("door"));

    keeper.stop_driving("the service is stopping");
    EXPECT_FALSE(store->served_sites().serves("north"));
}

INSTANTIATE_TEST_SUITE_P(Databases, LeaseKeeperTest, ::testing::ValuesIn(test::backends()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace doorlinkd
