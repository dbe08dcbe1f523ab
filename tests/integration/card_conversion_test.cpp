// Whole-list conversion, single records and records from arguments, against
// the files they write.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "cardlists/binary_file.h"
#include "cardlists/conversion.h"
#include "cardlists/list_files.h"
#include "core/library_state.h"
#include "doorlink/doorlink.h"
#include "support/card_source.h"
#include "support/data_files.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing::TempDir;

// Files of the list directory other than list files (part files, leftovers).
std::vector<std::string> list_directory_files() {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(cardlists::ListDirectory(), ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes single_records(const std::string& source, int count, bool longRecords) {
    Bytes all;
    Bytes record(360);
    for (int i = 1; i <= count; ++i) {
        if (longRecords) FormatSignalName1(source.c_str(), i, record.data());
        else FormatSignalName(source.c_str(), i, record.data());
        all.insert(all.end(), record.begin(), record.begin() + (longRecords ? 360 : 300));
    }
    return all;
}

class Conversion : public ::testing::Test {
protected:
    void SetUp() override { core::LibraryState::get().worker_start_pause_ms() = 0; }
    TempDir dir;
};

TEST_F(Conversion, ListFileIsTheConcatenationOfSingleRecords) {
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 250);
    for (int count : {1, 100, 101, 250}) {
        for (bool longRecords : {false, true}) {
            SCOPED_TRACE(std::to_string(count) + (longRecords ? " long" : " short"));
            ASSERT_EQ(TransformName(source.c_str(), count, 12, longRecords ? 1 : 0), 1u);
            Bytes list = testing::read_bytes(cardlists::ListFilePath(12));
            EXPECT_EQ(list.size(), static_cast<size_t>(count) * (longRecords ? 360 : 300));
            EXPECT_TRUE(list == single_records(source, count, longRecords));
            EXPECT_EQ(list_directory_files(), std::vector<std::string>{"doorname012.dat"});
        }
    }
}

TEST_F(Conversion, MissingSourceFileGivesEmptyValues) {
    const std::string missing = dir.file("none.ini");
    ASSERT_EQ(FormatName(missing.c_str(), 1, 3), 1u);
    Bytes expected(300, 0);
    expected[12] = 1;
    std::fill(expected.begin() + 13, expected.begin() + 293, 0x66);
    expected[299] = 2;
    EXPECT_EQ(testing::read_bytes(cardlists::ListFilePath(3)), expected);
    // The single record converts the missing digits too.
    Bytes single(300);
    ASSERT_EQ(FormatSignalName(missing.c_str(), 1, single.data()), 1u);
    std::fill(expected.begin() + 6, expected.begin() + 12, 0xD0);
    std::fill(expected.begin() + 293, expected.begin() + 299, 0xD0);
    EXPECT_EQ(single, expected);
}

TEST_F(Conversion, ShortDigitTextsDifferOnlyInTheSingleRecords) {
    const std::string source = dir.file("short.ini");
    std::ofstream(source) << "[CardNo]\nCardNo1=00100002\n[SerialNo]\nSerialNo1=123\n"
                             "[UserStyle]\nUserStyle1=00\n[OpenStyle]\nOpenStyle1=1\n";
    ASSERT_EQ(FormatName1(source.c_str(), 1, 4), 1u);
    Bytes list = testing::read_bytes(cardlists::ListFilePath(4));
    ASSERT_EQ(list.size(), 360u);
    EXPECT_EQ(Bytes(list.begin(), list.begin() + 13), (Bytes{1, 0, 2, 0, 0, 0, 1, 2, 3, 0, 0, 0, 1}));
    EXPECT_EQ(list[299], 1);
    Bytes single(360);
    ASSERT_EQ(FormatSignalName1(source.c_str(), 1, single.data()), 1u);
    EXPECT_EQ(Bytes(single.begin() + 6, single.begin() + 12), (Bytes{1, 2, 3, 0xD0, 0xD0, 0xD0}));
}

TEST_F(Conversion, RefusedArgumentsTouchNoFile) {
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 10);
    EXPECT_EQ(FormatName(source.c_str(), -1, 1), 0u);
    EXPECT_EQ(FormatName(source.c_str(), 5001, 1), 0u);
    EXPECT_EQ(FormatName1(source.c_str(), 10, 1000), 0u);
    EXPECT_EQ(FormatName(nullptr, 10, 1), 0u);
    EXPECT_EQ(TransformName(source.c_str(), 10, 1, 2), 0u);
    EXPECT_EQ(FormatSignalName(source.c_str(), 1, nullptr), 0u);
    EXPECT_FALSE(fs::exists(cardlists::ListDirectory()));
    // Count 0 fails and leaves an empty list file.
    ASSERT_EQ(FormatName(source.c_str(), 10, 1), 1u);
    EXPECT_EQ(FormatName(source.c_str(), 0, 1), 0u);
    EXPECT_EQ(fs::file_size(cardlists::ListFilePath(1)), 0u);
}

TEST_F(Conversion, AWorkerThatCannotWriteFailsTheCallAndLeavesNoPartFile) {
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 350);
    cardlists::EnsureListDirectory();
    // A directory where the part file of group 1 of list 5 would go.
    fs::create_directory(cardlists::PartFilePath(5, 1));
    EXPECT_EQ(FormatName(source.c_str(), 350, 5), 0u);
    EXPECT_EQ(list_directory_files(), (std::vector<std::string>{"doorname005.dat", "doorname0051.dat"}));
    EXPECT_TRUE(fs::is_directory(cardlists::PartFilePath(5, 1)));
    EXPECT_EQ(fs::file_size(cardlists::ListFilePath(5)), 0u);
    // The flags are free again for the next conversion.
    fs::remove(cardlists::PartFilePath(5, 1));
    EXPECT_EQ(FormatName(source.c_str(), 350, 5), 1u);
    EXPECT_EQ(fs::file_size(cardlists::ListFilePath(5)), 350u * 300u);
}

// A record builder that throws for card 1, which a worker converts.
void throw_for_first_card(const platform::ProfileSnapshot& source, int index, cardlists::RecordKind kind,
                          cardlists::DigitEnd end, uint8_t* record) {
    if (index == 1) throw std::runtime_error("no record");
    cardlists::BuildSourceRecord(source, index, kind, end, record);
}

TEST_F(Conversion, AWorkerThatThrowsFailsTheConversionNotTheProcess) {
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 150);
    EXPECT_EQ(
        cardlists::ConvertList(source.c_str(), 150, 5, cardlists::RecordKind::Short, &throw_for_first_card),
        0u);
    EXPECT_EQ(list_directory_files(), std::vector<std::string>{"doorname005.dat"});
    EXPECT_EQ(fs::file_size(cardlists::ListFilePath(5)), 0u);
    EXPECT_EQ(FormatName(source.c_str(), 150, 5), 1u);
}

TEST_F(Conversion, MergeOfAShortOrMissingPartFileFails) {
    cardlists::EnsureListDirectory();
    const std::string part = cardlists::PartFilePath(6, 0);
    std::ofstream(part, std::ios::binary) << std::string(100 * 300 - 1, 'x');
    cardlists::BinaryFile list(cardlists::ListFilePath(6), "wb+");
    EXPECT_FALSE(cardlists::MergePartFile(list, part, 0, cardlists::RecordKind::Short));
    EXPECT_FALSE(fs::exists(part));
    EXPECT_FALSE(cardlists::MergePartFile(list, part, 0, cardlists::RecordKind::Short));
    std::ofstream(part, std::ios::binary) << std::string(100 * 360, 'y');
    EXPECT_TRUE(cardlists::MergePartFile(list, part, 1, cardlists::RecordKind::Long));
    list.close();
    Bytes merged = testing::read_bytes(cardlists::ListFilePath(6));
    ASSERT_EQ(merged.size(), 200u * 360u);
    EXPECT_EQ(merged.back(), 'y');
}

TEST_F(Conversion, ConversionsAtOnceAreSerialisedAndBothComeOutRight) {
    core::LibraryState::get().worker_start_pause_ms() = 30;
    const std::string a = dir.file("a.ini");
    const std::string b = dir.file("b.ini");
    testing::write_card_source(a, 230, 1);
    testing::write_card_source(b, 310, 2);
    uint32_t resultA = 0, resultB = 0;
    std::thread first([&] { resultA = FormatName(a.c_str(), 230, 21); });
    std::thread second([&] { resultB = FormatName1(b.c_str(), 310, 22); });
    first.join();
    second.join();
    ASSERT_EQ(resultA, 1u);
    ASSERT_EQ(resultB, 1u);
    EXPECT_TRUE(testing::read_bytes(cardlists::ListFilePath(21)) == single_records(a, 230, false));
    EXPECT_TRUE(testing::read_bytes(cardlists::ListFilePath(22)) == single_records(b, 310, true));
}

TEST_F(Conversion, EachWorkerStartWaitsForThePause) {
    core::LibraryState::get().worker_start_pause_ms() = 150;
    const std::string source = dir.file("cards.ini");
    testing::write_card_source(source, 201);
    long ms = testing::elapsed_ms([&] { EXPECT_EQ(FormatName(source.c_str(), 201, 2), 1u); });
    EXPECT_GE(ms, 2 * 150);  // two workers, so two pauses
    core::LibraryState::get().worker_start_pause_ms() = 5000;
    ms = testing::elapsed_ms([&] { EXPECT_EQ(FormatName(source.c_str(), 100, 2), 1u); });
    EXPECT_LT(ms, 4000);  // one group: no worker, no pause
}

// NameToText and NameToText1.

struct Args {
    std::string card = "00112345";
    std::string serial = "123456";
    uint32_t userStyle = 1;
    std::array<std::string, 7> days = {"0800-1200-01;", "", "", "", "", "", ""};
    std::string password = "654321";
    uint32_t openStyle = 2;
    int list = 9;
    uint32_t append = 1;
};

uint32_t name_to_text(const Args& a, bool longRecord = false) {
    auto call = longRecord ? &NameToText1 : &NameToText;
    return call(a.card.c_str(), a.serial.c_str(), a.userStyle, a.days[0].c_str(), a.days[1].c_str(),
                a.days[2].c_str(), a.days[3].c_str(), a.days[4].c_str(), a.days[5].c_str(), a.days[6].c_str(),
                a.password.c_str(), a.openStyle, a.list, a.append);
}

TEST(RecordsFromArguments, NewListThenAppendedRecordsInCallOrder) {
    Args a;
    a.append = 0;
    ASSERT_EQ(name_to_text(a), 1u);
    a.append = 1;
    a.card = "00200002";
    a.userStyle = 0;
    a.openStyle = 0;
    ASSERT_EQ(name_to_text(a), 1u);
    Bytes list = testing::read_bytes(cardlists::ListFilePath(9));
    ASSERT_EQ(list.size(), 600u);
    EXPECT_EQ(Bytes(list.begin(), list.begin() + 13), (Bytes{1, 0x30, 0x39, 0, 0, 0, 1, 2, 3, 4, 5, 6, 1}));
    EXPECT_EQ(Bytes(list.begin() + 13, list.begin() + 18), (Bytes{8, 0, 12, 0, 1}));
    EXPECT_EQ(Bytes(list.begin() + 53, list.begin() + 93), Bytes(40, 0x66));
    EXPECT_EQ(list[299], 2);
    EXPECT_EQ(Bytes(list.begin() + 300, list.begin() + 303), (Bytes{2, 0, 2}));
    EXPECT_EQ(list[312], 0);
    EXPECT_EQ(list[599], 0);
    // A new list starts over.
    a.append = 0;
    ASSERT_EQ(name_to_text(a), 1u);
    EXPECT_EQ(fs::file_size(cardlists::ListFilePath(9)), 300u);
}

TEST(RecordsFromArguments, RefusalsLeaveTheListAsItWas) {
    Args a;
    a.append = 0;
    ASSERT_EQ(name_to_text(a), 1u);
    std::vector<Args> refused(9, Args{});
    refused[0].serial = "12345";
    refused[1].serial = "1234567";
    refused[2].password = "12345";
    refused[3].password = "1234567";
    refused[4].userStyle = 2;
    refused[5].openStyle = 3;
    refused[6].card = "0011234";
    refused[7].card = "001123456";
    refused[8].card = "00112345,00112345";
    for (Args& r : refused) {
        EXPECT_EQ(name_to_text(r), 0u) << r.card << " " << r.serial << " " << r.password;
        r.append = 0;  // not even a new list is started
        EXPECT_EQ(name_to_text(r), 0u);
    }
    EXPECT_EQ(fs::file_size(cardlists::ListFilePath(9)), 300u);
    Args outside;
    outside.list = 256;
    outside.append = 0;
    EXPECT_EQ(name_to_text(outside), 0u);
    EXPECT_FALSE(fs::exists(cardlists::ListFilePath(256)));
    EXPECT_EQ(NameToText(nullptr, "123456", 0, "", "", "", "", "", "", "", "123456", 0, 9, 1), 0u);
    EXPECT_EQ(NameToText("00112345", "123456", 0, "", "", nullptr, "", "", "", "", "123456", 0, 9, 1), 0u);
    EXPECT_EQ(fs::file_size(cardlists::ListFilePath(9)), 300u);
}

// An append that fills the disk half-way through its record leaves the list
// at its old length. The child process mounts a tiny file system of its own
// on the list directory and fills it.
TEST(RecordsFromArguments, AFailedAppendLeavesTheListAtItsOldLength) {
    const std::string directory = cardlists::EnsureListDirectory();
    constexpr int kNoMount = 20;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", directory.c_str(), "tmpfs", 0, "size=16k") != 0) {
            ::_exit(kNoMount);
        }
        // 4000 bytes: room for 96 more in the file's page, none elsewhere.
        std::ofstream(cardlists::ListFilePath(9), std::ios::binary) << std::string(4000, 'x');
        std::FILE* filler = std::fopen((directory + "/filler").c_str(), "wb");
        if (!filler) ::_exit(21);
        std::setvbuf(filler, nullptr, _IONBF, 0);
        while (std::fputc('f', filler) != EOF) {
        }
        std::fclose(filler);
        Args a;
        const uint32_t result = name_to_text(a);
        const auto size = fs::file_size(cardlists::ListFilePath(9));
        ::_exit((result == 0 ? 0 : 1) | (size == 4000 ? 0 : 2));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoMount) GTEST_SKIP() << "cannot mount a file system of its own (needs root)";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the append succeeded, 2: the list's length changed";
}

TEST(RecordsFromArguments, LongRecordsTakeFurtherCardTextsAtNineCharacterSteps) {
    Args a;
    a.list = 11;
    a.append = 0;
    a.card = "00100001";
    for (int k = 1; k <= 10; ++k) {
        char text[16];
        std::snprintf(text, sizeof text, ",%03d%05d", k, 1000 + k);
        a.card += text;
    }
    ASSERT_EQ(a.card.size(), 98u);
    ASSERT_EQ(name_to_text(a, true), 1u);
    a.append = 1;
    for (size_t length : {8u, 17u, 89u}) {
        Args shorter = a;
        shorter.card = a.card.substr(0, length);
        EXPECT_EQ(name_to_text(shorter, true), 1u) << length;
    }
    for (size_t length : {9u, 16u, 97u}) {
        Args odd = a;
        odd.card = a.card.substr(0, length);
        EXPECT_EQ(name_to_text(odd, true), 0u) << length;
    }
    Args tooLong = a;
    tooLong.card += ",00100001";
    EXPECT_EQ(name_to_text(tooLong, true), 0u);

    Bytes list = testing::read_bytes(cardlists::ListFilePath(11));
    ASSERT_EQ(list.size(), 4u * 360u);
    // The same record as a source file's "CardNo" value gives.
    Bytes expected(360);
    TempDir dir;
    std::ofstream(dir.file("one.ini")) << "[CardNo]\nCardNo1=" << a.card
                                       << "\n[SerialNo]\nSerialNo1=123456\n[Sunday]\nSunday1=0800-1200-01;\n"
                                          "[Password]\nPassword1=654321\n[UserStyle]\nUserStyle1=1\n";
    ASSERT_EQ(FormatSignalName1(dir.file("one.ini").c_str(), 1, expected.data()), 1u);
    EXPECT_EQ(Bytes(list.begin(), list.begin() + 360), expected);
    EXPECT_EQ(Bytes(list.begin() + 354, list.begin() + 357), (Bytes{10, 0x03, 0xF2}));
    // Eight characters: no further cards.
    EXPECT_EQ(Bytes(list.begin() + 360 + 300, list.begin() + 720), Bytes(60, 0));
}

}  // namespace
}  // namespace doorlink
