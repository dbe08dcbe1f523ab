// The lease keeper on a real database (SQLite: its rules are the store's,
// tested on both databases there).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "leases/lease_keeper.h"
#include "unit/test_databases.h"

namespace doorlinkd {
namespace {

using namespace std::chrono_literals;

class LeaseKeeperTest : public ::testing::Test {
protected:
    void SetUp() override { store->initialise(); }
    test::TestDatabase database{"sqlite"};
    std::unique_ptr<Store> store = Store::open(database.location());
};

// A lease outlives its time while the keeper renews it; one another owner
// takes once it has expired is lost at once, and a refusal names the owner.
TEST_F(LeaseKeeperTest, RenewsWhatItHoldsAndLosesWhatAnotherTook) {
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
TEST_F(LeaseKeeperTest, ReleasesEverythingItHoldsWhenItEnds) {
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
TEST_F(LeaseKeeperTest, CountsItsHoldersAndStopsDriving) {
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

}  // namespace
}  // namespace doorlinkd
