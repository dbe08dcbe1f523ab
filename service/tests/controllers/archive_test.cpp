// The journal as the library's own retrievals leave it (a simulated
// controller in this process), and as a disk may leave it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "archive/archive.h"
#include "archive/photo_hash.h"
#include "doorsim/simulator.h"
#include "fleet/operations.h"
#include "library/doorlink_library.h"

namespace doorlinkd {
namespace {

namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// "yyyymmddhhmmss" of a record the simulator keeps (its year within the century).
std::string time_of(const doorsim::StoredRecord& r) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", (local.tm_year + 1900) / 100 * 100 + r.year,
                  r.month, r.day, r.hour, r.minute, r.second);
    return text;
}

class RealRetrieval : public testing::Test {
protected:
    void SetUp() override {
        const char* home = std::getenv("DOORLINK_HOME");
        ASSERT_NE(home, nullptr) << "the library's module directory is set by ctest";
        dataDir = DataDir(home);
        fs::create_directories(home);
        id = sim.add_controller({});
        sim.start();
        records = doorsim::sample_records(12);
        sim.update_state(id, [&](doorsim::ControllerState& s) { s.records.records = records; });
    }
    void TearDown() override { forget_files(controller); }

    // The simulated controller as the fleet's controller `number`, which
    // names the files of this test in the shared directory; what earlier
    // runs left there goes first.
    void drive_as(const std::string& name, int number, bool photos) {
        controller = Controller{name, sim.address(id), sim.mac_text(id), number, false, photos};
        forget_files(controller);
    }
    void forget_files(const Controller& c) {
        if (c.name.empty()) return;
        for (const std::string& file : read_journal(dataDir, c).files) fs::remove(file);
        fs::remove(dataDir.controller_record_file(c.number));
    }

    doorsim::Simulator sim;
    int id = 0;
    std::vector<doorsim::StoredRecord> records;
    DataDir dataDir{""};
    Controller controller;
};

TEST_F(RealRetrieval, JournalHoldsEveryRecordAndPhotoTheControllerSent) {
    drive_as("gate", 731, true);
    ASSERT_EQ(library::retrieve_records(controller), 2u);  // the end marker
    const Journal journal = read_journal(dataDir, controller);
    EXPECT_TRUE(journal.notes.empty());
    ASSERT_EQ(journal.records.size(), records.size());
    // The photos, the empty file opened for the image after the last, and
    // the one retrieval file.
    std::vector<std::string> expected;
    for (size_t i = 0; i < records.size(); ++i) {
        const doorsim::StoredRecord& held = records[i];
        const IncomingRecord& got = journal.records[i];
        const std::string card = doorsim::card_text(held.site, held.card);
        EXPECT_EQ(got.controller, "gate");
        EXPECT_EQ(got.card, card);
        EXPECT_EQ(got.time, time_of(held));
        EXPECT_EQ(got.kind, 1);
        ASSERT_TRUE(got.photo.has_value()) << i;
        EXPECT_EQ(got.photo->bytes, held.photo);
        EXPECT_EQ(got.photo->sha256, sha256_hex(held.photo));
        EXPECT_TRUE(got.photo->whole);
        char image[32];
        std::snprintf(image, sizeof image, "731%04zu.jpg", i + 1);
        expected.push_back(dataDir.photo_directory() + "/" + card + "/" + card + time_of(held) + image);
    }
    expected.push_back(dataDir.photo_directory() + "/73112.jpg");
    ASSERT_EQ(journal.files.size(), expected.size() + 1);
    EXPECT_EQ(std::vector<std::string>(journal.files.begin(), journal.files.end() - 1), expected);
    const fs::path retrievalFile = journal.files.back();
    EXPECT_EQ(retrievalFile.parent_path(), fs::path(dataDir.record_directory()));
    EXPECT_EQ(retrievalFile.filename().string().substr(14), "731.txt");
}

TEST_F(RealRetrieval, TransferJournalKeepsEachRecordsKind) {
    drive_as("gate-transfer", 732, false);
    ASSERT_EQ(library::retrieve_records(controller), 1u);
    const Journal journal = read_journal(dataDir, controller);
    ASSERT_EQ(journal.records.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(journal.records[i].card, doorsim::card_text(records[i].site, records[i].card));
        EXPECT_EQ(journal.records[i].kind, records[i].kind);
        EXPECT_FALSE(journal.records[i].photo.has_value());
    }
    EXPECT_EQ(journal.files.size(), 1u);
}

// Files as a disk may hold them for controller 12: retrieval files that
// earlier imports left, a line cut short, a photo missing or under another
// image number, a partial photo, and files of controllers 1 and 120.
TEST(Journal, ReadsWhatIsThereAndSkipsTheRest) {
    const fs::path dir = fs::temp_directory_path() / ("doorlinkd-journal-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const DataDir dataDir(dir.string());
    const fs::path cardinfo = dataDir.record_directory();
    const fs::path pic = dataDir.photo_directory();
    const std::string whole = "\xFF\xD8 a photo \xFF\xD9";
    write_file(cardinfo / "20260102030405012.txt",
               "00101000,20260102030000,012,1\n"
               "00101001,2026010203\n"
               "00101002,20260102030200,012,1\n"
               "00101003,20260102030300,012,1\n"
               "00101004,20260102030400,120,1\n");
    write_file(pic / "00101000" / "001010002026010203000001200001.jpg", whole);
    write_file(pic / "00101003" / "001010032026010203030001200009.jpg", "abc");
    write_file(cardinfo / "20260102030405012_2.txt", "00201005,20260102030500,012,2\n");
    write_file(pic / "00201005" / "002010052026010203050001200001.jpg", whole);
    write_file(cardinfo / "20260101235959012.txt", "00301006,20260101235900,012,1\n");
    write_file(pic / "00301006" / "003010062026010123590001200001.jpg", whole);
    write_file(pic / "0120.jpg", "");
    write_file(pic / "01234.jpg", "\xFF\xD8 partial");
    for (const char* other : {"20260102030405120.txt", "20260102030405001.txt", "2026010203040512.txt"}) {
        write_file(cardinfo / other, "00101000,20260102030000,120,1\n");
    }
    for (const char* other : {"0012.jpg", "120.jpg", "1201.jpg", "012.jpg", "012x.jpg"})
        write_file(pic / other, "");

    const Journal journal = read_journal(dataDir, Controller{"gate-12", "127.0.0.2", "00a0c9000001", 12});

    std::vector<std::string> cards, photos;
    for (const IncomingRecord& r : journal.records) {
        EXPECT_EQ(r.controller, "gate-12");
        cards.push_back(r.card);
        photos.push_back(r.photo ? r.photo->sha256.substr(0, 8) + (r.photo->whole ? " whole" : " partial")
                                 : "-");
    }
    const std::string wholeHash = sha256_hex({whole.begin(), whole.end()}).substr(0, 8);
    EXPECT_EQ(cards, (std::vector<std::string>{"00301006", "00101000", "00101002", "00101003", "00201005"}));
    // sha256("abc"), the standard's own example.
    EXPECT_EQ(photos, (std::vector<std::string>{wholeHash + " whole", wholeHash + " whole", "-",
                                                "ba7816bf partial", wholeHash + " whole"}));
    EXPECT_EQ(journal.records.back().kind, 2);
    EXPECT_EQ(journal.records[3].time, "20260102030300");
    ASSERT_EQ(journal.notes.size(), 3u);  // two lines skipped, one photo missing
    EXPECT_NE(journal.notes[0].find("line 2"), std::string::npos) << journal.notes[0];
    EXPECT_NE(journal.notes[1].find("00101002"), std::string::npos) << journal.notes[1];
    EXPECT_NE(journal.notes[2].find("line 5"), std::string::npos) << journal.notes[2];

    const std::vector<fs::path> files(journal.files.begin(), journal.files.end());
    EXPECT_EQ(files, (std::vector<fs::path>{
                         pic / "00301006" / "003010062026010123590001200001.jpg",
                         pic / "00101000" / "001010002026010203000001200001.jpg",
                         pic / "00101003" / "001010032026010203030001200009.jpg",
                         pic / "00201005" / "002010052026010203050001200001.jpg",
                         pic / "0120.jpg",
                         pic / "01234.jpg",
                         cardinfo / "20260101235959012.txt",
                         cardinfo / "20260102030405012.txt",
                         cardinfo / "20260102030405012_2.txt",
                     }));
    fs::remove_all(dir);
}

// A removed controller's journal, left where its number named it, is still
// its own: the next controller added gets another number, and the files
// are imported under the removed controller's name, by an archive run as
// by the import at start, and then removed.
TEST(Journal, ARemovedControllersFilesKeepItsName) {
    const fs::path dir = fs::temp_directory_path() / ("doorlinkd-retired-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const DataDir dataDir(dir.string());
    auto store = Store::open("sqlite:" + (dir / "fleet.db").string());
    store->initialise();
    auto add = [&](const std::string& name) {
        ControllerAddArgs args;
        args.name = name;
        args.address = "127.0.0.2";
        args.mac = "00a0c9000001";
        return controller_add(*store, args).json["number"];
    };
    EXPECT_EQ(add("hall"), 1);
    const std::string whole = "\xFF\xD8 a photo \xFF\xD9";
    const fs::path firstFile = fs::path(dataDir.record_directory()) / "20260102030405001.txt";
    write_file(firstFile, "00101000,20260102030000,001,1\n");
    write_file(fs::path(dataDir.photo_directory()) / "00101000" / "001010002026010203000000100001.jpg",
               whole);
    controller_remove(*store, "hall");

    EXPECT_EQ(add("garage"), 2);
    // An archive run, here of no controller, imports it first.
    LeaseKeeper leases(*store, "test", 30);
    EXPECT_TRUE(
        archive_controllers(*store, leases, dataDir, {}, 1, store->begin_archive_run("test")).empty());
    // And the import at start, of files found later.
    const fs::path laterFile = fs::path(dataDir.record_directory()) / "20260102040000001.txt";
    write_file(laterFile, "00101001,20260102035900,001,2\n");
    const ImportCounts later = import_journals(*store, dataDir);
    EXPECT_EQ(later.records, 1);

    const std::vector<StoredRecord> stored = store->records(RecordQuery{});
    ASSERT_EQ(stored.size(), 2u);
    for (const StoredRecord& r : stored) EXPECT_EQ(r.controller, "hall");
    EXPECT_EQ(stored[0].card, "00101001");
    EXPECT_FALSE(stored[0].photo);
    ASSERT_TRUE(stored[1].photo);
    EXPECT_EQ(stored[1].photo->sha256, sha256_hex({whole.begin(), whole.end()}));
    EXPECT_FALSE(fs::exists(firstFile));
    EXPECT_FALSE(fs::exists(laterFile));
    EXPECT_TRUE(read_journal(dataDir, Controller{"hall", "", "", 1, false, true}).files.empty());
    store.reset();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace doorlinkd
