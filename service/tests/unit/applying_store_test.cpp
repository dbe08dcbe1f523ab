// What the controllers were sent of the policy (applied revisions, verified
// states, plans) and the requests handed to serve, on SQLite and on
// PostgreSQL (skipped, saying why, without DOORLINKD_TEST_POSTGRES).
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "store/store.h"
#include "unit/store_on_each_backend.h"
#include "unit/thrown_message.h"

namespace doorlinkd::applying_store {
namespace {

Controller controller_named(const std::string& name, int number) {
    Controller c;
    c.name = name;
    c.address = "127.0.0." + std::to_string(number + 1);
    c.mac = "00112233445" + std::to_string(number);
    c.number = number;
    return c;
}

Card card_row(const std::string& number) {
    Card card;
    card.card = number;
    card.serial = "000001";
    card.password = "000001";
    return card;
}

class ApplyingStoreTest : public test::StoreOnEachBackend {
protected:
    void SetUp() override {
        StoreOnEachBackend::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        store_->add_controller(controller_named("door-1", 1));
        store_->add_controller(controller_named("door-3", 3));
    }

    // A plan of a revision after the one the controllers apply, for door-1
    // (verified at v1) and door-3 (never verified).
    StoredPlan made_plan(const VerifiedState& v1) {
        store_->put_cards({card_row("00100009")}, false);
        StoredPlan plan;
        plan.revision = store_->policy_revision();
        plan.atMs = 1700000000000;
        plan.atGiven = true;
        plan.madeBy = "alice";
        plan.controllers = {{"door-1", v1, 2}, {"door-3", std::nullopt, 5}};
        return plan;
    }

    int applies_audited() {
        int count = 0;
        for (const AuditEntry& entry : store_->audit_entries(0, 1000).items) count += entry.action == "apply";
        return count;
    }
};

TEST_P(ApplyingStoreTest, AControllerIsAppliedTheRevisionItWasAddedAt) {
    const int64_t first = store_->policy_revision();
    store_->put_cards({card_row("00100001")}, false);
    store_->add_controller(controller_named("door-2", 2));
    EXPECT_EQ(store_->applied_revisions(),
              (std::map<std::string, int64_t>{{"door-1", first}, {"door-2", first + 1}, {"door-3", first}}));
    store_->remove_controller("door-2");
    EXPECT_EQ(store_->applied_revisions().count("door-2"), 0U);
}

TEST_P(ApplyingStoreTest, VerifiedStatesAreSetAndCleared) {
    EXPECT_TRUE(store_->verified_states().empty());
    const VerifiedState state{3, 4, 1700000000123};
    store_->set_verified("door-3", state);
    EXPECT_EQ(store_->verified_states(), (std::map<std::string, VerifiedState>{{"door-3", state}}));
    store_->clear_verified("door-3");
    EXPECT_TRUE(store_->verified_states().empty());
    EXPECT_THROW(store_->set_verified("door-9", state), NotFound);
}

TEST_P(ApplyingStoreTest, APlanIsStoredAppliedOnceAndAudited) {
    const VerifiedState v1{0, 0, 1700000000000};
    store_->set_verified("door-1", v1);
    const StoredPlan made = made_plan(v1);
    const int64_t id = store_->store_plan(made);
    const StoredPlan stored = store_->plan(id);
    EXPECT_EQ(stored.id, id);
    EXPECT_EQ(stored.revision, made.revision);
    EXPECT_EQ(stored.atMs, made.atMs);
    EXPECT_TRUE(stored.atGiven);
    EXPECT_GT(stored.madeMs, 0);
    EXPECT_EQ(stored.madeBy, "alice");
    ASSERT_EQ(stored.controllers.size(), 2U);
    EXPECT_EQ(stored.controllers[0].verified, std::optional<VerifiedState>(v1));
    EXPECT_EQ(stored.controllers[1].controller, "door-3");
    EXPECT_EQ(stored.controllers[1].verified, std::nullopt);
    EXPECT_EQ(stored.controllers[1].changes, 5);
    EXPECT_FALSE(stored.appliedMs);
    EXPECT_THROW(store_->plan(id + 1), NotFound);

    store_->apply_plan(id, {{"door-1", v1}}, "bob", "127.0.0.1");
    EXPECT_EQ(store_->applied_revisions(),
              (std::map<std::string, int64_t>{{"door-1", made.revision}, {"door-3", made.revision}}));
    const StoredPlan applied = store_->plan(id);
    ASSERT_TRUE(applied.appliedMs);
    EXPECT_EQ(applied.appliedBy, "bob");
    const AuditEntry entry = store_->audit_entries(0, 1).items.at(0);
    EXPECT_EQ(entry.who + " " + entry.address + " " + entry.action + " " + entry.target,
              "bob 127.0.0.1 apply plan " + std::to_string(id));
    EXPECT_EQ(message_of([&] {
                  store_->apply_plan(id, {{"door-1", v1}}, "bob", "");
              }),
              "plan " + std::to_string(id) + " was applied already");
    EXPECT_EQ(applies_audited(), 1);
}

// Each cause refuses the apply by name, and leaves the applied revisions,
// the plan and the audit as they were.
TEST_P(ApplyingStoreTest, AStalePlanIsRefusedNamingWhatChangedAndNothingIsWritten) {
    const VerifiedState v1{0, 0, 1700000000000};
    store_->set_verified("door-1", v1);
    const int64_t id = store_->store_plan(made_plan(v1));
    const int64_t applied = store_->applied_revisions().at("door-1");
    ASSERT_NE(applied, store_->plan(id).revision);
    const std::map<std::string, VerifiedState> judged = {{"door-1", v1}};
    auto refusal = [&] {
        std::string message;
        try {
            store_->apply_plan(id, judged, "bob", "");
            message = "(applied)";
        } catch (const Stale& stale) {
            message = stale.what();
        }
        EXPECT_EQ(store_->applied_revisions().at("door-1"), applied);
        EXPECT_FALSE(store_->plan(id).appliedMs);
        EXPECT_EQ(applies_audited(), 0);
        return message;
    };

    store_->set_verified("door-3", VerifiedState{0, 0, 1700000000999});
    EXPECT_EQ(refusal(), "controller door-3 was verified again since the plan was made");
    store_->clear_verified("door-3");
    store_->clear_verified("door-1");
    EXPECT_EQ(refusal(),
              "controller door-1 was found changed since the plan was made (it is not verified any more)");
    store_->set_verified("door-1", v1);
    store_->remove_controller("door-3");
    EXPECT_EQ(refusal(), "controller door-3 was removed since the plan was made");
    const int64_t compiled = store_->plan(id).revision;
    store_->put_cards({card_row("00100001")}, false);
    EXPECT_EQ(refusal(), "the policy is at revision " + std::to_string(compiled + 1) +
                             ", the plan compiled " + std::to_string(compiled));
}

// Two stores, as two processes would hold, race to take every request.
TEST_P(ApplyingStoreTest, NoRequestIsTakenTwice) {
    constexpr int kRequests = 50;
    std::vector<int64_t> submitted;
    for (int i = 0; i < kRequests; ++i) {
        submitted.push_back(store_->submit_work("sync", "{\"n\":" + std::to_string(i) + "}", "cli"));
    }
    auto other = Store::open(database_->location());
    std::mutex mutex;
    std::vector<int64_t> taken;
    auto take_all = [&](Store& store, const std::string& owner) {
        try {
            while (const auto request = store.take_work(owner)) {
                EXPECT_EQ(request->takenBy, std::optional<std::string>(owner));
                std::lock_guard<std::mutex> lock(mutex);
                taken.push_back(request->id);
            }
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    };
    std::thread a(take_all, std::ref(*store_), "serve-a");
    std::thread b(take_all, std::ref(*other), "serve-b");
    a.join();
    b.join();
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(taken, submitted);

    store_->finish_work(submitted[7], "{\"ok\":true}");
    const WorkRequest done = store_->work(submitted[7]);
    EXPECT_EQ(done.kind, "sync");
    EXPECT_EQ(done.arguments, "{\"n\":7}");
    EXPECT_EQ(done.requestedBy, "cli");
    EXPECT_EQ(done.result, std::optional<std::string>("{\"ok\":true}"));
    EXPECT_FALSE(store_->work(submitted[8]).result);
    EXPECT_THROW(store_->work(submitted.back() + 1), NotFound);
}

INSTANTIATE_TEST_SUITE_P(Databases, ApplyingStoreTest, ::testing::ValuesIn(test::backends()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace doorlinkd::applying_store
