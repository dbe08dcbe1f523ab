// One controller's sync against a simulated controller: drift found, drift
// repaired, the step that failed named, and a lost lease obeyed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "controllers/sample_cards.h"
#include "leases/lease_keeper.h"
#include "sync/controller_sync.h"

namespace doorlinkd {
namespace {

const BeforeExport kLeaseHeld = [] {};

class ControllerSync : public SimulatedDoor {
protected:
    void SetUp() override {
        SimulatedDoor::SetUp();
        // The controller holds an older list: card 3 missing, one password changed.
        std::vector<Card> older = cards;
        older.erase(older.begin() + 3);
        older[5].password = "999999";
        write_controller_list(door(true), older, 1, kLeaseHeld);
        announced = announcements();
    }
    SyncResult sync(bool checkOnly, const BeforeExport& beforeExport = kLeaseHeld) {
        return sync_controller(door(true), cards, dataDir, 1, checkOnly ? ListWork::check : ListWork::repair,
                               beforeExport);
    }

    const std::vector<Card> cards = sample_cards(12, true);
    int announced = 0;
};

TEST_F(ControllerSync, DriftIsOnlyReportedWhenCheckingAndRepairedOtherwise) {
    const SyncResult checked = sync(true);
    EXPECT_EQ(checked.status, SyncStatus::Drift);
    EXPECT_EQ(checked.cards, 12);
    ASSERT_EQ(checked.drift.size(), 2u);
    EXPECT_EQ(checked.drift[0].card, cards[3].card);
    EXPECT_EQ(checked.drift[0].field, "card");
    EXPECT_EQ(checked.drift[1].card, cards[6].card);
    EXPECT_EQ(checked.drift[1].field, "password");
    EXPECT_EQ(announcements(), announced);

    const SyncResult repaired = sync(false);
    EXPECT_EQ(repaired.status, SyncStatus::Repaired);
    EXPECT_TRUE(repaired.drift.empty());
    EXPECT_EQ(cards_held(), cards.size());
    EXPECT_EQ(sync(false).status, SyncStatus::InStep);
}

TEST_F(ControllerSync, AFailedStepMakesTheControllerUnreachableInBoundedTime) {
    // Count announcements go unanswered, read-backs are answered.
    sim.set_script(id, [](const doorsim::Datagram& request, doorsim::ControllerState&) {
        return request.bytes.at(0) == 0x49 ? std::optional(std::vector<doorsim::Bytes>{}) : std::nullopt;
    });
    const SyncResult notDownloaded = sync(false);
    EXPECT_EQ(notDownloaded.status, SyncStatus::Unreachable);
    EXPECT_NE(notDownloaded.message.find("download"), std::string::npos) << notDownloaded.message;

    doorsim::Faults silent;
    silent.silent = true;
    sim.set_faults(id, silent);
    const auto start = std::chrono::steady_clock::now();
    const SyncResult notRead = sync(false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(notRead.status, SyncStatus::Unreachable);
    EXPECT_NE(notRead.message.find("read-back"), std::string::npos) << notRead.message;
}

TEST_F(ControllerSync, ALostLeaseStopsBeforeTheNextExport) {
    int checks = 0;
    // Held for the read-back's two calls, lost before the list is written.
    auto leaseLostAfterTwo = [&] {
        if (++checks > 2) throw LeaseLost("the lease of door-1 could not be renewed");
    };
    EXPECT_THROW(sync(false, leaseLostAfterTwo), LeaseLost);
    EXPECT_EQ(checks, 3);
    EXPECT_EQ(announcements(), announced);
}

// The list file and the read-back files of the list number hold the PINs:
// none is left once a sync ends, whether it found drift, was stopped by a
// lost lease, failed or repaired the list.
TEST_F(ControllerSync, NoListOrReadBackFileOutlivesTheSync) {
    const auto left = [&] {
        std::vector<std::string> files;
        for (const std::string& file :
             {dataDir.list_file(1), dataDir.read_back_file(1), dataDir.read_back_ini(1)}) {
            if (::access(file.c_str(), F_OK) == 0) files.push_back(file);
        }
        return files;
    };
    ASSERT_EQ(left(), std::vector<std::string>{dataDir.list_file(1)});  // written by SetUp

    EXPECT_EQ(sync(true).status, SyncStatus::Drift);
    EXPECT_EQ(left(), std::vector<std::string>{});

    int checks = 0;
    EXPECT_THROW(sync(false,
                      [&] {
                          if (++checks > 2) throw LeaseLost("the lease of door-1 could not be renewed");
                      }),
                 LeaseLost);
    EXPECT_EQ(left(), std::vector<std::string>{});

    sim.set_script(id, [](const doorsim::Datagram& request, doorsim::ControllerState&) {
        return request.bytes.at(0) == 0x49 ? std::optional(std::vector<doorsim::Bytes>{}) : std::nullopt;
    });
    EXPECT_EQ(sync(false).status, SyncStatus::Unreachable);
    EXPECT_EQ(left(), std::vector<std::string>{});

    sim.set_script(id, nullptr);
    EXPECT_EQ(sync(false).status, SyncStatus::Repaired);
    EXPECT_EQ(left(), std::vector<std::string>{});
}

}  // namespace
}  // namespace doorlinkd
