// The transfers on networks that repeat, lose and reorder datagrams: every
// answer twice, and a soak under 5% loss, 10% duplication and reordering,
// with the fixed wait and with the adaptive wait. The soak runs at a reduced
// size here; with DOORLINK_SOAK_FULL=1 (make soak) at full size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "cardlists/list_files.h"
#include "core/library_state.h"
#include "core/paths.h"
#include "core/transport.h"
#include "doorlink/doorlink.h"
#include "support/card_source.h"
#include "support/data_files.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using doorsim::Bytes;
using doorsim::StoredRecord;
using testing::data_path;
using testing::read_bytes;
using testing::read_lines;

bool full_soak() {
    const char* full = std::getenv("DOORLINK_SOAK_FULL");
    return full && *full && *full != '0';
}

// A host on a lossy network calls again what failed; the calls it took, or
// 0 when none of them succeeded.
template <typename Call>
int calls_until_done(Call call, int attempts = 10) {
    for (int i = 1; i <= attempts; ++i) {
        if (call()) return i;
    }
    return 0;
}

doorsim::Faults duplicating() {
    doorsim::Faults f;
    f.duplicateRate = 1.0;  // every request, answer and push arrives twice
    return f;
}

doorsim::Faults soak_faults() {
    doorsim::Faults f;
    f.dropRate = 0.05;
    f.pushLossRate = 0.05;
    f.duplicateRate = 0.10;
    f.reorderRate = 0.10;
    return f;
}

class LossyNetwork : public testing::SimulatedController {
protected:
    void SetUp() override {
        SimulatedController::SetUp();
        core::LibraryState::get().worker_start_pause_ms() = 0;
    }

    // Source file -> list file -> controller -> read-back INI file, which
    // must be the source file again; the calls of download and read-back.
    std::pair<int, int> card_list_round_trip(int count, int list) {
        const std::string source = dir.file("cards.ini");
        testing::write_card_source(source, count, list);
        EXPECT_EQ(FormatName1(source.c_str(), count, static_cast<uint32_t>(list)), 1u);
        const int downloads =
            calls_until_done([&] { return DoorDownName1(address.c_str(), count, list, mac.c_str()) == 1; });
        const int readBacks =
            calls_until_done([&] { return LookDoorName(address.c_str(), list, mac.c_str()) == 1; });
        EXPECT_GT(downloads, 0);
        EXPECT_GT(readBacks, 0);
        EXPECT_EQ(NameToini(cardlists::ReadBackFilePath(list).c_str(), list), 1u);
        char name[32];
        std::snprintf(name, sizeof name, "ReCard%03d.ini", list);
        EXPECT_EQ(read_bytes(core::join_path(cardlists::ListDirectory(), name)), read_bytes(source));
        return {downloads, readBacks};
    }

    // The records with photos of the controller `faulty`, fetched as
    // controller number 2, byte for byte what a clean controller holding the
    // same records gives as controller number 1.
    void retrieval_matches_clean_run(int faulty, int records) {
        const int clean = sim.add_controller({});
        const std::vector<StoredRecord> stored = doorsim::sample_records(records);
        for (int c : {clean, faulty}) {
            sim.update_state(c, [&](doorsim::ControllerState& s) { s.records.records = stored; });
        }
        ASSERT_EQ(DataRtn(sim.address(clean).c_str(), 1, sim.mac_text(clean).c_str()), 2u);
        ASSERT_EQ(DataRtn(sim.address(faulty).c_str(), 2, sim.mac_text(faulty).c_str()), 2u);

        std::vector<std::string> cleanLines = read_lines(data_path({"mj001.txt"}));
        ASSERT_EQ(cleanLines.size(), stored.size());
        for (std::string& line : cleanLines) line.replace(line.size() - 5, 3, "002");
        EXPECT_EQ(read_lines(data_path({"mj002.txt"})), cleanLines);
        for (const std::string& card : testing::files_in(data_path({"pic"}))) {
            for (const std::string& name : testing::files_in(data_path({"pic", card}))) {
                if (name.compare(name.size() - 11, 3, "001") != 0) continue;
                std::string faultyName = name;
                faultyName.replace(name.size() - 11, 3, "002");
                const Bytes photo = read_bytes(data_path({"pic", card, name}));
                EXPECT_FALSE(photo.empty());
                EXPECT_EQ(read_bytes(data_path({"pic", card, faultyName})), photo) << faultyName;
            }
        }
    }

    // Every record line of a transfer retrieval, in order.
    void transfer_is_exact(int records) {
        const std::vector<StoredRecord> stored = doorsim::sample_records(records, 0, 0);
        sim.update_state(id, [&](doorsim::ControllerState& s) { s.records.records = stored; });
        ASSERT_EQ(TxDataRtn(address.c_str(), 3, mac.c_str()), 1u);
        const std::vector<std::string> lines = read_lines(data_path({"mj003.txt"}));
        ASSERT_EQ(lines.size(), stored.size());
        for (size_t i = 0; i < stored.size(); ++i) {
            const StoredRecord& r = stored[i];
            EXPECT_EQ(lines[i].substr(0, 8), doorsim::card_text(r.site, r.card)) << i;
            EXPECT_EQ(lines[i].back() - '0', r.kind) << i;
        }
    }

    // Photos pushed one after another, each received whole by DoorPic;
    // returns the DoorPic calls it took.
    int pushed_photos_are_whole(int photos) {
        uint16_t port = 0;
        const uint32_t socket = core::OpenControllerSocket(port);
        EXPECT_NE(socket, 0u);
        sim.update_state(id, [&](doorsim::ControllerState& s) {
            s.monitor = doorsim::MonitorTarget{true, "127.0.0.1", port};
        });
        int calls = 0;
        for (int i = 0; i < photos; ++i) {
            const StoredRecord r = doorsim::make_record(9, static_cast<uint16_t>(500 + i), std::time(nullptr),
                                                        1, 160 + 8 * (i % 5), 120);
            EXPECT_TRUE(doorsim::push_live_photo(sim, id, r));
            char card[9] = {};
            char time[17] = {};
            const int took = calls_until_done([&] { return DoorPic(0, card, time, socket) == 1; }, 3);
            EXPECT_GT(took, 0) << "photo " << i;
            calls += took;
            Bytes expected = r.photo;
            expected.resize((r.photo.size() + 1023) / 1024 * 1024, 0);
            EXPECT_EQ(read_bytes(data_path(
                          {"curpic", doorsim::card_text(9, static_cast<uint16_t>(500 + i)) + ".jpg"})),
                      expected)
                << "photo " << i;
        }
        core::CloseControllerSocket(socket);
        return calls;
    }

    testing::TempDir dir;
};

TEST_F(LossyNetwork, EveryTransferSurvivesDatagramsThatArriveTwice) {
    sim.set_faults(id, duplicating());
    const auto calls = card_list_round_trip(260, 4);
    EXPECT_EQ(calls, std::make_pair(1, 1));
    transfer_is_exact(150);
    EXPECT_EQ(pushed_photos_are_whole(3), 3);
    const int faulty = sim.add_controller({});
    sim.set_faults(faulty, duplicating());
    retrieval_matches_clean_run(faulty, 12);
    char clock[18];
    uint32_t weekDay = 0;
    EXPECT_EQ(DoorSetTime(address.c_str(), mac.c_str()), 1u);
    EXPECT_EQ(DoorShowTime(address.c_str(), clock, &weekDay, mac.c_str()), 1u);
}

// The soak, one workload per test so that they run side by side, each with
// the fixed wait and with the adaptive wait on for every controller.
class LossySoak : public LossyNetwork, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        LossyNetwork::SetUp();
        if (GetParam()) {
            ASSERT_EQ(SetAdaptiveWait(nullptr, 5), 1u);
        }
    }
    void TearDown() override { SetAdaptiveWait(nullptr, 0); }
};

TEST_P(LossySoak, CardListDownloadAndReadBack) {
    sim.set_faults(id, soak_faults());
    const auto calls = card_list_round_trip(full_soak() ? 5000 : 300, 6);
    std::printf("download calls %d, read-back calls %d\n", calls.first, calls.second);
    // The queries that the adaptive wait sends early, each answered in the
    // first call (the fixed wait gives up on a lost one).
    if (!GetParam()) return;
    char clock[18];
    uint32_t value = 0;
    uint32_t other = 0;
    for (int i = 0; i < (full_soak() ? 500 : 50); ++i) {
        EXPECT_EQ(DoorShowTime(address.c_str(), clock, &value, mac.c_str()), 1u) << i;
        EXPECT_EQ(DoorCurState(address.c_str(), mac.c_str(), &value), 1u) << i;
        EXPECT_EQ(DoorRecAndDir(address.c_str(), &value, &other, mac.c_str()), 1u) << i;
    }
}

TEST_P(LossySoak, RetrievalWithPhotos) {
    const int faulty = sim.add_controller({});
    sim.set_faults(faulty, soak_faults());
    retrieval_matches_clean_run(faulty, full_soak() ? 200 : 30);
}

TEST_P(LossySoak, TransferRetrieval) {
    sim.set_faults(id, soak_faults());
    transfer_is_exact(640);
}

INSTANTIATE_TEST_SUITE_P(Waits, LossySoak, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "AdaptiveWait" : "FixedWait";
                         });

TEST_F(LossyNetwork, SoakPushedPhotos) {
    sim.set_faults(id, soak_faults());
    const int photos = full_soak() ? 100 : 15;
    std::printf("DoorPic calls %d for %d photos\n", pushed_photos_are_whole(photos), photos);
}

}  // namespace
}  // namespace doorlink
