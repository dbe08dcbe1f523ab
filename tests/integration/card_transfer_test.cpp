// Download and read-back against a simulated controller, their progress keys,
// and the round trip source file -> list file -> controller -> INI file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "cardlists/conversion.h"
#include "cardlists/list_files.h"
#include "core/library_state.h"
#include "core/paths.h"
#include "doorlink/doorlink.h"
#include "platform/profile.h"
#include "support/card_source.h"
#include "support/data_files.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::string profile_value(const std::string& path, const std::string& section, const std::string& key) {
    char buffer[200];
    platform::profile_read_string(section.c_str(), key.c_str(), "", buffer, sizeof buffer, path.c_str());
    return buffer;
}

std::string registry_value(const std::string& name, int list) {
    return profile_value(core::registry_path(), name, name + std::to_string(list));
}

class CardTransfer : public testing::SimulatedController {
protected:
    // Records the distinct values a registry key takes while the controller
    // receives datagrams (a transfer writes its progress between datagrams).
    void watch(const std::string& name, int list) {
        sim.set_script(
            id,
            [this, name, list](const doorsim::Datagram&,
                               doorsim::ControllerState&) -> std::optional<std::vector<doorsim::Bytes>> {
                std::string value = registry_value(name, list);
                std::lock_guard<std::mutex> guard(seenLock);
                if (!value.empty() && (seen.empty() || seen.back() != value)) seen.push_back(value);
                return std::nullopt;
            });
    }
    std::vector<std::string> seen_with_final(const std::string& name, int list) {
        std::lock_guard<std::mutex> guard(seenLock);
        std::vector<std::string> values = seen;
        std::string last = registry_value(name, list);
        if (values.empty() || values.back() != last) values.push_back(last);
        return values;
    }

    void SetUp() override {
        SimulatedController::SetUp();
        core::LibraryState::get().worker_start_pause_ms() = 0;
    }

    testing::TempDir dir;
    std::mutex seenLock;
    std::vector<std::string> seen;
};

TEST_F(CardTransfer, DownloadStoresEveryRecordWithProgressEveryFifty) {
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 120);
    ASSERT_EQ(FormatName(source.c_str(), 120, 7), 1u);
    watch("CurNameList", 7);
    ASSERT_EQ(DoorDownName(address.c_str(), 120, 7, mac.c_str()), 1u);
    EXPECT_EQ(seen_with_final("CurNameList", 7), (std::vector<std::string>{"1", "51", "101", "120"}));
    EXPECT_EQ(registry_value("TolNameList", 7), "120");

    // The last copies of the last record may still be on their way.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (sim.state(id).cards.recordsStored < 600 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto cards = sim.state(id).cards;
    ASSERT_EQ(cards.records.size(), 120u);
    Bytes list = testing::read_bytes(cardlists::ListFilePath(7));
    for (size_t i = 0; i < 120; ++i) {
        Bytes stored(cards.records[i].begin(), cards.records[i].end());
        Bytes expected(list.begin() + static_cast<long>(i * 300),
                       list.begin() + static_cast<long>(i * 300 + 300));
        expected.resize(360, 0);  // the zero fill after a short record
        ASSERT_EQ(stored, expected) << i;
    }
    EXPECT_EQ(cards.recordsStored, 600);  // five copies of each
}

// Holds the worker of the second group back until released.
std::atomic<bool> releaseSecondGroup{false};
void hold_second_group(const platform::ProfileSnapshot& source, int index, cardlists::RecordKind kind,
                       cardlists::DigitEnd end, uint8_t* record) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (index == 101 && !releaseSecondGroup && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    cardlists::BuildSourceRecord(source, index, kind, end, record);
}

// A download of a list that is being converted never sends the list before
// its groups are all in place: here it waits for the conversion.
TEST_F(CardTransfer, DownloadDuringAConversionSendsTheFinishedList) {
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 300);
    const std::string list = cardlists::ListFilePath(6);
    uint32_t converted = 0;
    std::thread conversion([&] {
        converted =
            cardlists::ConvertList(source.c_str(), 300, 6, cardlists::RecordKind::Short, &hold_second_group);
    });
    // The last group goes to its place in the list file while the first two
    // are still to come from their part files (the second not even written):
    // soon the file is long enough for the first 250 records.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto size = [&] {
        std::error_code ec;
        const auto bytes = fs::file_size(list, ec);
        return ec ? 0 : bytes;
    };
    while (size() < 250u * 300u && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    uint32_t downloaded = 0;
    std::thread download([&] { downloaded = DoorDownName(address.c_str(), 250, 6, mac.c_str()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    releaseSecondGroup = true;
    conversion.join();
    download.join();
    ASSERT_EQ(converted, 1u);
    ASSERT_EQ(downloaded, 1u);
    auto cards = sim.state(id).cards;
    ASSERT_EQ(cards.records.size(), 250u);
    Bytes final = testing::read_bytes(list);
    for (size_t i = 0; i < 250; ++i) {
        Bytes stored(cards.records[i].begin(), cards.records[i].begin() + 300);
        const auto at = final.begin() + static_cast<long>(i * 300);
        ASSERT_EQ(stored, Bytes(at, at + 300)) << i;
    }
}

// A download holds its list only while it reads it: a slow controller holds
// up no conversion of that list (nor, behind it, any other conversion).
TEST_F(CardTransfer, ASlowDownloadHoldsUpNoConversionOfItsList) {
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 10);
    ASSERT_EQ(FormatName(source.c_str(), 10, 5), 1u);
    doorsim::Faults slow;
    slow.delayMs = 400;
    sim.set_faults(id, slow);
    std::atomic<bool> downloading{true};
    uint32_t downloaded = 0;
    std::thread download([&] {
        downloaded = DoorDownName(address.c_str(), 3, 5, mac.c_str());
        downloading = false;
    });
    ASSERT_TRUE(sim.wait_received(id, 1, std::chrono::seconds(5)));  // the list has been read
    EXPECT_EQ(FormatName(source.c_str(), 10, 5), 1u);
    EXPECT_TRUE(downloading) << "the conversion waited for the download";
    download.join();
    EXPECT_EQ(downloaded, 1u);
}

TEST_F(CardTransfer, ReadBackProgressAndFile) {
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 120);
    ASSERT_EQ(FormatName1(source.c_str(), 120, 8), 1u);
    ASSERT_EQ(DownName(address.c_str(), 120, 8, mac.c_str(), 1), 1u);
    watch("ReCurNameList", 8);
    ASSERT_EQ(LookDoorName(address.c_str(), 8, mac.c_str()), 1u);
    EXPECT_EQ(seen_with_final("ReCurNameList", 8), (std::vector<std::string>{"51", "101", "120"}));
    EXPECT_EQ(registry_value("ReTolNameList", 8), "120");
    EXPECT_TRUE(testing::read_bytes(cardlists::ReadBackFilePath(8)) ==
                testing::read_bytes(cardlists::ListFilePath(8)));
}

TEST_F(CardTransfer, EmptyControllerStillAnswersRecordZero) {
    ASSERT_EQ(DoorDownName(address.c_str(), 0, 3, mac.c_str()), 1u);
    EXPECT_FALSE(fs::exists(cardlists::ListFilePath(3)));
    ASSERT_EQ(LookDoorName(address.c_str(), 3, mac.c_str()), 1u);
    EXPECT_EQ(testing::read_bytes(cardlists::ReadBackFilePath(3)), Bytes(360, 0xFF));
    EXPECT_EQ(registry_value("ReTolNameList", 3), "0");
    EXPECT_EQ(registry_value("ReCurNameList", 3), "");
}

TEST_F(CardTransfer, RefusalsAndSilence) {
    EXPECT_EQ(DownName(address.c_str(), 0, 1, mac.c_str(), 2), 0u);
    EXPECT_FALSE(fs::exists(core::registry_path()));
    EXPECT_EQ(DoorDownName(address.c_str(), 0, 1, "00a0c90000zz"), 0u);
    EXPECT_EQ(LookDoorName(address.c_str(), 1, "00a0c9"), 0u);
    EXPECT_EQ(NameToini(nullptr, 1), 0u);
    EXPECT_EQ(received().size(), 0u);

    // A controller with another MAC does not answer: one wait, then 0.
    const std::string otherMac = "00a0c9ffffff";
    long ms =
        testing::elapsed_ms([&] { EXPECT_EQ(DoorDownName(address.c_str(), 0, 1, otherMac.c_str()), 0u); });
    EXPECT_GE(ms, 1500);
    EXPECT_LT(ms, 6000);
}

TEST_F(CardTransfer, RoundTripGivesTheSourceFileBack) {
    const std::string source = dir.file("cards.ini");
    const int count = 230;
    testing::write_card_source(source, count);
    ASSERT_EQ(FormatName1(source.c_str(), count, 5), 1u);
    ASSERT_EQ(DoorDownName1(address.c_str(), count, 5, mac.c_str()), 1u);
    ASSERT_EQ(LookDoorName(address.c_str(), 5, mac.c_str()), 1u);
    ASSERT_EQ(NameToini(cardlists::ReadBackFilePath(5).c_str(), 5), 1u);
    const std::string ini = core::join_path(cardlists::ListDirectory(), "ReCard005.ini");
    EXPECT_EQ(testing::read_bytes(ini), testing::read_bytes(source));
    for (int i : {1, 2, 3, 229, 230}) {
        EXPECT_EQ(profile_value(ini, "CardNo", "CardNo" + std::to_string(i)), testing::source_card_text(i));
    }
}

TEST_F(CardTransfer, SimulatorKeepsItsCardsAcrossRestarts) {
    testing::TempDir state;
    sim.set_state_directory(state.path());
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 30);
    ASSERT_EQ(FormatName(source.c_str(), 30, 2), 1u);
    ASSERT_EQ(DoorDownName(address.c_str(), 30, 2, mac.c_str()), 1u);
    auto before = sim.state(id).cards.records;
    sim.stop();

    doorsim::Simulator again;
    again.set_state_directory(state.path());
    doorsim::ControllerConfig config;
    config.mac = sim.mac(id);
    int other = again.add_controller(config);
    EXPECT_TRUE(again.state(other).cards.records == before);
    again.start();
    const std::string otherAddress = again.address(other);
    ASSERT_EQ(LookDoorName(otherAddress.c_str(), 2, mac.c_str()), 1u);
    EXPECT_EQ(testing::read_bytes(cardlists::ReadBackFilePath(2)).size(), 30u * 360u);
}

// NameToini on files of its own.

void write_bytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(ReadBackIni, FieldsAndTheirEnds) {
    testing::TempDir dir;
    Bytes record(360, 0x66);
    Bytes head = {7, 0x01, 0x02, 9, 9, 9, 1, 2, 3, 4, 5, 6, 0};
    std::copy(head.begin(), head.end(), record.begin());
    Bytes range = {8, 0, 17, 30, 1};
    std::copy(range.begin(), range.end(), record.begin() + 13);
    Bytes password = {9, 10, 0, 0, 0, 255};
    std::copy(password.begin(), password.end(), record.begin() + 293);
    record[299] = 7;
    std::fill(record.begin() + 300, record.end(), 0xFF);
    Bytes second = record;
    std::fill(second.begin() + 300, second.end(), 0);
    second[300] = 1;
    second[302] = 2;
    second[312] = 5;  // after the first zero card: not read
    second[12] = 3;
    second[299] = 1;
    record.insert(record.end(), second.begin(), second.end());
    const std::string path = dir.file("ReCardInfo004.dat");
    write_bytes(path, record);
    ASSERT_EQ(NameToini(path.c_str(), 4), 1u);
    const std::string ini = dir.file("ReCard004.ini");
    EXPECT_EQ(profile_value(ini, "CardNo", "CardNo1"), "00700258");
    EXPECT_EQ(profile_value(ini, "CardNo", "CardNo2"), "00700258,00100002");
    EXPECT_EQ(profile_value(ini, "SerialNo", "SerialNo1"), "123456");
    EXPECT_EQ(profile_value(ini, "Password", "Password1"), "910000255");
    EXPECT_EQ(profile_value(ini, "UserStyle", "UserStyle1"), "0");
    EXPECT_EQ(profile_value(ini, "UserStyle", "UserStyle2"), "1");
    EXPECT_EQ(profile_value(ini, "OpenStyle", "OpenStyle1"), "2");
    EXPECT_EQ(profile_value(ini, "OpenStyle", "OpenStyle2"), "1");
    EXPECT_EQ(profile_value(ini, "Sunday", "Sunday1"), "0800-1730-01;");
    EXPECT_EQ(profile_value(ini, "Monday", "Monday1"), "");
    std::ifstream text(ini);
    std::string first;
    std::getline(text, first);
    EXPECT_EQ(first, "[CardNo]");
}

TEST(ReadBackIni, MalformedFilesAreRefusedAndTheOldIniIsGone) {
    testing::TempDir dir;
    const std::string ini = dir.file("ReCard001.ini");
    const std::string path = dir.file("ReCardInfo001.dat");
    std::ofstream(ini) << "[CardNo]\nCardNo1=00100001\n";
    write_bytes(path, Bytes(721, 0));
    EXPECT_EQ(NameToini(path.c_str(), 1), 0u);
    EXPECT_FALSE(fs::exists(ini));
    write_bytes(path, Bytes());
    EXPECT_EQ(NameToini(path.c_str(), 1), 0u);
    EXPECT_EQ(NameToini(dir.file("missing.dat").c_str(), 1), 0u);
    EXPECT_FALSE(fs::exists(ini));
}

}  // namespace
}  // namespace doorlink
