// DataRtn and TxDataRtn against a simulated controller that keeps access
// records with real JPEG photos.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include <ctime>
#include <optional>
#include <thread>

#include "doorlink/doorlink.h"
#include "support/data_files.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

using doorsim::Bytes;
using Replies = std::optional<std::vector<Bytes>>;  // a script's
using doorsim::StoredRecord;
using testing::data_path;
using testing::files_in;
using testing::read_bytes;
using testing::read_lines;
using testing::registry_value;

class Records : public testing::SimulatedController {
protected:
    void keep(const std::vector<StoredRecord>& records,
              doorsim::StreamEnd end = doorsim::StreamEnd::EndMarker) {
        stored = records;
        sim.update_state(id, [&](doorsim::ControllerState& s) {
            s.records.records = records;
            s.records.streamEnd = end;
        });
    }

    static int century() {
        time_t now = std::time(nullptr);
        tm local{};
        localtime_r(&now, &local);
        return (local.tm_year + 1900) / 100 * 100;
    }

    static std::string line_of(const StoredRecord& r, int controller, int kind) {
        char line[96];
        std::snprintf(line, sizeof line, "%03d%05d,%04d%02d%02d%02d%02d%02d,%03d,%d", r.site, r.card,
                      century() + r.year, r.month, r.day, r.hour, r.minute, r.second, controller, kind);
        return line;
    }

    // The record lines of records as a retrieval writes them: DataRtn's with
    // kind 1, TxDataRtn's with the record's kind.
    static std::vector<std::string> lines_of(const std::vector<StoredRecord>& records, int controller,
                                             bool photos) {
        std::vector<std::string> lines;
        for (const StoredRecord& r : records) lines.push_back(line_of(r, controller, photos ? 1 : r.kind));
        return lines;
    }

    std::vector<StoredRecord> kept() const { return sim.state(id).records.records; }

    void consume() {
        sim.update_state(id, [](doorsim::ControllerState& s) { s.records.consumeRecords = true; });
    }

    static std::string photo_name(const StoredRecord& r, int controller, int image) {
        char name[96];
        std::snprintf(name, sizeof name, "%03d%05d%04d%02d%02d%02d%02d%02d%03d%04d.jpg", r.site, r.card,
                      century() + r.year, r.month, r.day, r.hour, r.minute, r.second, controller, image);
        return name;
    }

    // The single retrieval record file of this test.
    std::string retrieval_file() const {
        auto names = files_in(data_path({"cardinfo"}));
        return names.size() == 1 ? data_path({"cardinfo", names[0]}) : std::string();
    }

    // Every photo byte-identical to the one the controller holds, in the
    // card's directory under its final name.
    void expect_photos_landed(int controller) {
        for (size_t i = 0; i < stored.size(); ++i) {
            const StoredRecord& r = stored[i];
            const std::string card = doorsim::card_text(r.site, r.card);
            const std::string path =
                data_path({"pic", card, photo_name(r, controller, static_cast<int>(i + 1))});
            EXPECT_EQ(read_bytes(path), r.photo) << path;
        }
    }

    std::vector<StoredRecord> stored;
};

TEST_F(Records, FetchesEveryPhotoByteForByteAndBothRecordFiles) {
    keep(doorsim::sample_records(12));
    ASSERT_EQ(DataRtn(address.c_str(), 7, mac.c_str()), 2u);

    std::vector<std::string> expected;
    for (const StoredRecord& r : stored) expected.push_back(line_of(r, 7, 1));
    EXPECT_EQ(read_lines(retrieval_file()), expected);
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})), expected);
    expect_photos_landed(7);
    int width = 0, height = 0;
    EXPECT_TRUE(doorsim::decode_photo(read_bytes(data_path({"pic", "00101000", photo_name(stored[0], 7, 1)})),
                                      width, height));
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);
    // Nothing was resent on a clean line.
    EXPECT_EQ(sim.state(id).records.resendRequests, 0);
    EXPECT_EQ(registry_value("TotalImg", "TotalImg7"), "12");
    EXPECT_EQ(registry_value("CurrentImg", "CurrentImg7"), "10");
    // The next temporary photo file stays, empty, after the end marker.
    EXPECT_EQ(read_bytes(data_path({"pic", "00712.jpg"})).size(), 0u);
}

TEST_F(Records, ControllerRecordFileGrowsAcrossRetrievals) {
    keep(doorsim::sample_records(2, 80, 60));
    ASSERT_EQ(DataRtn(address.c_str(), 3, mac.c_str()), 2u);
    // The same photos again: their final names are taken, so they keep
    // their temporary names.
    ASSERT_EQ(DataRtn(address.c_str(), 3, mac.c_str()), 2u);
    EXPECT_EQ(read_lines(data_path({"mj003.txt"})).size(), 4u);
    EXPECT_EQ(read_bytes(data_path({"pic", "0030.jpg"})), stored[0].photo);
    EXPECT_EQ(read_bytes(data_path({"pic", "0031.jpg"})), stored[1].photo);
    expect_photos_landed(3);
}

TEST_F(Records, ShortReplyEndsWithThreeAndSilenceAfterTheLastImageWithOne) {
    keep(doorsim::sample_records(3, 80, 60), doorsim::StreamEnd::ShortReply);
    ASSERT_EQ(DataRtn(address.c_str(), 1, mac.c_str()), 3u);
    expect_photos_landed(1);

    keep(stored, doorsim::StreamEnd::Silence);
    long ms = testing::elapsed_ms([&] { EXPECT_EQ(DataRtn(address.c_str(), 2, mac.c_str()), 1u); });
    EXPECT_GE(ms, 1900);
    EXPECT_EQ(registry_value("CurrentImg", "CurrentImg2"), "3");
    // The temporary file of the image that never came is removed.
    EXPECT_TRUE(read_bytes(data_path({"pic", "0023.jpg"})).empty());
    EXPECT_FALSE(std::filesystem::exists(data_path({"pic", "0023.jpg"})));
}

TEST_F(Records, EndMarkerAtOnceLeavesEmptyFilesAndAnUnchangedControllerFile) {
    {
        std::FILE* f = std::fopen(data_path({"mj004.txt"}).c_str(), "w");
        std::fputs("earlier\n", f);
        std::fclose(f);
    }
    keep({});
    ASSERT_EQ(DataRtn(address.c_str(), 4, mac.c_str()), 2u);
    EXPECT_TRUE(read_bytes(retrieval_file()).empty());
    EXPECT_EQ(read_lines(data_path({"mj004.txt"})), std::vector<std::string>{"earlier"});
    EXPECT_TRUE(std::filesystem::exists(data_path({"pic", "0040.jpg"})));
    EXPECT_TRUE(read_bytes(data_path({"pic", "0040.jpg"})).empty());
}

TEST_F(Records, RecoversFromLostAndDuplicatedBlocks) {
    keep(doorsim::sample_records(4));
    sim.update_state(id, [](doorsim::ControllerState& s) { s.records.loseOnce = {1, 6}; });
    doorsim::Faults f;
    f.duplicates = 1;
    sim.set_faults(id, f);
    ASSERT_EQ(DataRtn(address.c_str(), 5, mac.c_str()), 2u);
    expect_photos_landed(5);
    EXPECT_EQ(read_lines(data_path({"mj005.txt"})).size(), 4u);
    EXPECT_GE(sim.state(id).records.resendRequests, 2);
}

TEST_F(Records, SurvivesLostAcknowledgements) {
    keep(doorsim::sample_records(3, 80, 60));
    doorsim::Faults f;
    f.dropRate = 0.3;
    sim.set_faults(id, f);
    ASSERT_EQ(DataRtn(address.c_str(), 6, mac.c_str()), 2u);
    expect_photos_landed(6);
}

TEST_F(Records, SilentControllerGivesZeroWithoutRecords) {
    doorsim::Faults f;
    f.silent = true;
    sim.set_faults(id, f);
    EXPECT_EQ(DataRtn(address.c_str(), 1, mac.c_str()), 0u);
    EXPECT_EQ(TxDataRtn(address.c_str(), 1, mac.c_str()), 0u);
    sim.wait_received(id, 12, std::chrono::seconds(1));
    auto got = received();
    ASSERT_EQ(got.size(), 12u);  // each request six times
    EXPECT_EQ(got[0].bytes.size(), 12u);
    EXPECT_EQ(got[0].bytes[4], 0x77);
    EXPECT_EQ(got[6].bytes[4], 0x66);
}

TEST_F(Records, InvalidArgumentsTouchNothing) {
    EXPECT_EQ(DataRtn(address.c_str(), 1, "00a0c9"), 0u);
    EXPECT_EQ(DataRtn(nullptr, 1, mac.c_str()), 0u);
    EXPECT_EQ(TxDataRtn(address.c_str(), 1, "zz"), 0u);
    EXPECT_EQ(TxDataRtn(address.c_str(), 1, nullptr), 0u);
    EXPECT_FALSE(std::filesystem::exists(data_path({"cardinfo"})));
    EXPECT_FALSE(std::filesystem::exists(data_path({"pic"})));
    EXPECT_EQ(sim.received_count(id), 0u);
}

TEST_F(Records, TransferOfOneBlock) {
    keep(doorsim::sample_records(10, 0));
    ASSERT_EQ(TxDataRtn(address.c_str(), 9, mac.c_str()), 1u);
    std::vector<std::string> expected;
    for (const StoredRecord& r : stored) expected.push_back(line_of(r, 9, r.kind));
    EXPECT_EQ(read_lines(retrieval_file()), expected);
    EXPECT_EQ(read_lines(data_path({"mj009.txt"})), expected);
    EXPECT_EQ(registry_value("TotalImg", "TotalImg9"), "10");
    EXPECT_EQ(registry_value("CurrentImg", "CurrentImg9"), "10");
    EXPECT_FALSE(std::filesystem::exists(data_path({"pic"})));
    // One block needs no block request: only the six copies of the request.
    sim.wait_received(id, 6, std::chrono::seconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(received().size(), 6u);
}

TEST_F(Records, TransferOfThreeBlocksEvenWithDuplicates) {
    keep(doorsim::sample_records(138, 0));
    doorsim::Faults f;
    f.duplicates = 2;
    sim.set_faults(id, f);
    ASSERT_EQ(TxDataRtn(address.c_str(), 12, mac.c_str()), 1u);
    std::vector<std::string> expected;
    for (const StoredRecord& r : stored) expected.push_back(line_of(r, 12, r.kind));
    EXPECT_EQ(read_lines(data_path({"mj012.txt"})), expected);
    EXPECT_EQ(read_lines(retrieval_file()), expected);
    EXPECT_EQ(registry_value("TotalImg", "TotalImg12"), "138");
    EXPECT_EQ(registry_value("CurrentImg", "CurrentImg12"), "138");
    // The final block request reaches the controller after the call returned.
    for (int i = 0; i < 100 && sim.state(id).records.transfersCompleted == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(sim.state(id).records.transfersCompleted, 1);
}

TEST_F(Records, TransferWithNothingStoredEndsWithTwo) {
    keep({});
    EXPECT_EQ(TxDataRtn(address.c_str(), 1, mac.c_str()), 2u);
    EXPECT_TRUE(read_bytes(retrieval_file()).empty());
}

// A controller that consumes records frees those whose record block the host
// acknowledged, and no others: not those of a retrieval cut short, nor one
// taken while a retrieval runs, nor one more for an acknowledgement repeated.
TEST_F(Records, ConsumingControllerFreesWhatThePhotoRetrievalAcknowledged) {
    keep(doorsim::sample_records(5, 0));  // no photos: one record block per image
    consume();
    // The acknowledgement of image 3 gets an empty datagram, which ends the call.
    auto cutShort = std::make_shared<std::atomic<int>>(0);
    sim.set_script(id, [cutShort](const doorsim::Datagram& d, doorsim::ControllerState&) -> Replies {
        const Bytes& b = d.bytes;
        if (b.size() == 5 && b[0] == 0x5A && b[1] == 0xA5 && b[2] * 256 + b[3] >= 3) {
            ++*cutShort;
            return std::vector<Bytes>{Bytes{}};
        }
        return std::nullopt;
    });
    ASSERT_EQ(DataRtn(address.c_str(), 1, mac.c_str()), 0u);
    // Every copy of that acknowledgement meets this script, not the next.
    for (int i = 0; i < 200 && *cutShort < 7; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(*cutShort, 7);
    const std::vector<StoredRecord> rest(stored.begin() + 2, stored.end());
    EXPECT_EQ(read_lines(data_path({"mj001.txt"})), lines_of({stored.begin(), stored.begin() + 3}, 1, true));
    EXPECT_EQ(lines_of(kept(), 1, true), lines_of(rest, 1, true));

    // Image 2's block is lost once: the resend request names image 1's
    // record block again. A record is taken at the first acknowledgement.
    const StoredRecord later = doorsim::sample_record(5, std::time(nullptr), 0);
    sim.set_script(id,
                   [later, taken = false](const doorsim::Datagram& d, doorsim::ControllerState& s) mutable {
                       if (d.bytes.size() == 5 && !taken) s.records.records.push_back(later);
                       taken = taken || d.bytes.size() == 5;
                       return Replies();
                   });
    sim.update_state(id, [](doorsim::ControllerState& s) { s.records.loseOnce = {1}; });
    ASSERT_EQ(DataRtn(address.c_str(), 2, mac.c_str()), 2u);
    EXPECT_GE(sim.state(id).records.resendRequests, 1);
    EXPECT_EQ(read_lines(data_path({"mj002.txt"})), lines_of(rest, 2, true));
    EXPECT_EQ(lines_of(kept(), 2, true), lines_of({later}, 2, true));
}

// A block request acknowledges the blocks had, the final request all of them.
TEST_F(Records, ConsumingControllerFreesTheTransferBlocksAcknowledged) {
    keep(doorsim::sample_records(138, 0));  // three blocks
    consume();
    // The request for block 3, which acknowledges block 2, is lost for good.
    auto lost = std::make_shared<std::atomic<int>>(0);
    sim.set_script(id, [lost](const doorsim::Datagram& d, doorsim::ControllerState&) -> Replies {
        const Bytes& b = d.bytes;
        if (b.size() == 6 && b[0] == 0xFF && b[1] == 0xFF && b[5] == 2) {
            ++*lost;
            return std::vector<Bytes>{};
        }
        return std::nullopt;
    });
    ASSERT_EQ(TxDataRtn(address.c_str(), 1, mac.c_str()), 0u);
    // Every copy of that request meets this script, not the next.
    for (int i = 0; i < 200 && *lost < 6; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(*lost, 6);
    const std::vector<StoredRecord> rest(stored.begin() + 64, stored.end());
    EXPECT_EQ(lines_of(kept(), 1, false), lines_of(rest, 1, false));

    sim.set_script(id, nullptr);
    ASSERT_EQ(TxDataRtn(address.c_str(), 2, mac.c_str()), 1u);
    EXPECT_EQ(read_lines(data_path({"mj002.txt"})), lines_of(rest, 2, false));
    // The final block request reaches the controller after the call returned.
    for (int i = 0; i < 100 && sim.state(id).records.transfersCompleted == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(kept().empty());
    EXPECT_EQ(TxDataRtn(address.c_str(), 3, mac.c_str()), 2u);
}

}  // namespace
}  // namespace doorlink
