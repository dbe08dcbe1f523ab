// The record retrieval and transfer state machines against a scripted
// transport: exact datagrams, ordering, resends, limits and files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "records/record_files.h"
#include "records/record_retrieval.h"
#include "records/transfer_retrieval.h"
#include "support/adaptive_wait.h"
#include "support/data_files.h"
#include "support/fake_transport.h"

namespace doorlink {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::data_path;
using testing::FakeTransport;
using testing::read_bytes;
using testing::read_lines;
using testing::registry_value;

using testing::kMac;

platform::LocalTime fixed_clock() {
    platform::LocalTime t;
    t.year = 2026;
    t.month = 3;
    t.day = 4;
    t.hour = 5;
    t.minute = 6;
    t.second = 7;
    return t;
}

// Records the progress key "CurrentImg7" as it stands at every receive.
class WatchingTransport : public FakeTransport {
public:
    int receive(core::SocketHandle s, uint8_t* buffer, int capacity, core::Endpoint& from) override {
        seen.push_back(registry_value("CurrentImg", "CurrentImg7"));
        return FakeTransport::receive(s, buffer, capacity, from);
    }
    // The distinct values in the order they appeared.
    std::vector<std::string> progress() const {
        std::vector<std::string> out;
        for (const auto& v : seen) {
            if (out.empty() || out.back() != v) out.push_back(v);
        }
        return out;
    }
    std::vector<std::string> seen;
};

Bytes trailer(uint32_t image, uint8_t sequence) {
    return {0x5A, 0xA5, static_cast<uint8_t>(image >> 8), static_cast<uint8_t>(image & 0xFF), sequence};
}

Bytes photo_block(uint32_t image, uint8_t sequence, uint8_t fill) {
    Bytes b(1024, fill);
    auto t = trailer(image, sequence);
    b.insert(b.end(), t.begin(), t.end());
    return b;
}

struct Access {
    uint8_t site = 5;
    uint16_t card = 0x0102;
    uint8_t year = 7, month = 11, day = 12, hour = 13, minute = 14, second = 15;
    uint16_t total = 1;
};

// A record block whose image area starts with image (then zeros).
Bytes record_block(size_t length, uint32_t image, uint8_t sequence, const Access& a,
                   const Bytes& imageBytes) {
    Bytes b(length, 0);
    std::copy(imageBytes.begin(), imageBytes.end(), b.begin());
    const size_t L = length;
    b[L - 21] = a.site;
    b[L - 20] = static_cast<uint8_t>(a.card >> 8);
    b[L - 19] = static_cast<uint8_t>(a.card & 0xFF);
    b[L - 15] = a.year;
    b[L - 14] = a.month;
    b[L - 13] = a.day;
    b[L - 12] = a.hour;
    b[L - 11] = a.minute;
    b[L - 10] = a.second;
    b[L - 7] = static_cast<uint8_t>(a.total >> 8);
    b[L - 6] = static_cast<uint8_t>(a.total & 0xFF);
    auto t = trailer(image, sequence);
    std::copy(t.begin(), t.end(), b.end() - 5);
    return b;
}

const Bytes kImageTail = {0x11, 0x22, 0xFF, 0xD9};  // ends with the end-of-image marker

uint32_t retrieve(FakeTransport& t, int controller = 7) {
    return records::RetrieveRecords(t, "127.0.0.1", controller, kMac, fixed_clock);
}

// The sends from index `from`, grouped: the bytes and how often in a row.
std::vector<std::pair<Bytes, int>> runs(const FakeTransport& t, size_t from = 0) {
    std::vector<std::pair<Bytes, int>> out;
    for (size_t i = from; i < t.sent.size(); ++i) {
        if (!out.empty() && out.back().first == t.sent[i].bytes) {
            ++out.back().second;
        } else {
            out.push_back({t.sent[i].bytes, 1});
        }
    }
    return out;
}

TEST(RecordRetrieval, AcknowledgesEveryBlockSevenTimesAndAsksAgainForARepeat) {
    FakeTransport t;
    t.answer(photo_block(3, 0x2A, 0xAB));
    t.answer(photo_block(3, 0x2A, 0xAB));  // a repeat, and nothing within the grace
    Access a;
    a.total = 0;
    t.answer_late(record_block(1045, 3, 0x2B, a, kImageTail));
    EXPECT_EQ(retrieve(t), records::kRetrievalSilentAfterAll);

    Bytes request = {0x41, 0x14, 0x24, 0x34, 0x77, 0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56, 0x00};
    auto r = runs(t);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0], std::make_pair(request, 6));
    EXPECT_EQ(r[1], std::make_pair(trailer(3, 0x2A), 7));
    EXPECT_EQ(r[2], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x03, 0x2A}, 7));
    EXPECT_EQ(r[3], std::make_pair(trailer(3, 0x2B), 7));
    EXPECT_EQ(t.closes, 1);

    // Photo bytes then the record block's image up to its end marker.
    Bytes photo;
    photo.reserve(1024 + kImageTail.size());
    photo.assign(1024, 0xAB);
    for (uint8_t b : kImageTail) photo.push_back(b);
    const std::string name =
        "00500258"
        "20071112131415"
        "007"
        "0003.jpg";
    EXPECT_EQ(read_bytes(data_path({"pic", "00500258", name})), photo);
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})),
              std::vector<std::string>{"00500258,20071112131415,007,1"});
    EXPECT_EQ(read_lines(data_path({"cardinfo", "20260304050607007.txt"})),
              std::vector<std::string>{"00500258,20071112131415,007,1"});
    // The temporary file of the photo that never came is removed.
    EXPECT_FALSE(std::filesystem::exists(data_path({"pic", "0073.jpg"})));
}

TEST(RecordRetrieval, CopiesOfAcknowledgedBlocksAreNoReasonToAskAgain) {
    FakeTransport t;
    Access a;
    a.total = 2;
    t.answer(record_block(533, 1, 0x01, a, kImageTail));
    t.answer(record_block(533, 1, 0x01, a, kImageTail));  // the network's copy
    t.answer(photo_block(2, 0x02, 0xAB));
    t.answer(photo_block(2, 0x02, 0xAB));
    t.answer(record_block(533, 1, 0x01, a, kImageTail));  // an older copy still
    t.answer(record_block(533, 2, 0x03, a, kImageTail));
    EXPECT_EQ(retrieve(t), records::kRetrievalSilentAfterAll);
    auto r = runs(t, 6);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].first, trailer(1, 0x01));
    EXPECT_EQ(r[1].first, trailer(2, 0x02));
    EXPECT_EQ(r[2].first, trailer(2, 0x03));
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})).size(), 2u);
}

TEST(RecordRetrieval, APhotoBeyondEightMegabytesEndsTheRetrievalKeepingEarlierRecords) {
    FakeTransport t;
    Access a;
    a.total = 2;
    t.answer(record_block(533, 1, 0x01, a, kImageTail));
    uint8_t sequence = 0x01;
    for (size_t sent = 0; sent <= records::kMaxPhotoBytes; sent += 1024) {
        t.answer(photo_block(2, ++sequence, 0xAB));
    }
    EXPECT_EQ(retrieve(t), records::kRetrievalFailed);
    EXPECT_EQ(t.incoming.size(), 0u);
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})).size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(data_path({"pic", "00500258",
                                                   "00500258"
                                                   "20071112131415"
                                                   "007"
                                                   "0001.jpg"})));
    EXPECT_FALSE(std::filesystem::exists(data_path({"pic", "0071.jpg"})));
}

TEST(RecordRetrieval, SequenceWrapsAndAnUnexpectedReplyAfter0xFFGetsTheAlternativeRequest) {
    FakeTransport t;
    t.answer(photo_block(1, 0xFF, 1));
    t.answer(photo_block(1, 0x00, 2));  // in order after 0xFF
    t.answer(Bytes(7, 0x55));           // image 0x5555, sequence 0x55: not in order
    EXPECT_EQ(retrieve(t), records::kRetrievalSilentAfterAll);
    auto r = runs(t, 6);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].first, trailer(1, 0xFF));
    EXPECT_EQ(r[1].first, trailer(1, 0x00));
    EXPECT_EQ(r[2].first, (Bytes{0xFF, 0xFF, 0x00, 0x01, 0x00}));

    // After a reply of unexpected length while the last sequence byte is 0xFF.
    FakeTransport u;
    u.answer(photo_block(1, 0xFE, 1));
    u.answer(Bytes(7, 0x00));  // sequence 0x00 where 0xFF is due, image 0 where 2 would do
    u.answer(photo_block(1, 0xFF, 1));
    u.answer(Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(retrieve(u), records::kRetrievalSilentAfterAll);
    auto s = runs(u, 6);
    ASSERT_GE(s.size(), 4u);
    EXPECT_EQ(s[1].first, (Bytes{0xFF, 0xFF, 0x00, 0x01, 0xFE}));
    EXPECT_EQ(s[2].first, trailer(1, 0xFF));
    // A 12-byte datagram with sequence byte 0x00 is in order but unexpected.
    EXPECT_EQ(s[3].first, (Bytes{0x47, 0x74, 0x84, 0x94, 0x33}));
}

// Falls silent at the given receives (counted from 1), else answers as queued.
class SilentAtTransport : public FakeTransport {
public:
    explicit SilentAtTransport(std::vector<int> at) : silentAt(std::move(at)) {}
    int receive(core::SocketHandle s, uint8_t* buffer, int capacity, core::Endpoint& from) override {
        if (std::find(silentAt.begin(), silentAt.end(), receives + 1) != silentAt.end()) {
            ++receives;
            return -1;
        }
        return FakeTransport::receive(s, buffer, capacity, from);
    }
    std::vector<int> silentAt;
};

// A repeat or a silence after sequence byte 0xFF asks for the next block with
// 0xFF 0xFF image 0xFF; only a reply of unexpected length gets the alternative.
TEST(RecordRetrieval, RepeatOrSilenceAfterSequence0xFFGetsThePlainResendRequest) {
    Access a;
    a.total = 2;
    FakeTransport t;
    t.answer(record_block(533, 1, 0xFE, a, kImageTail));
    t.answer(photo_block(2, 0xFF, 0x31));
    t.answer(photo_block(2, 0xFF, 0x31));  // a repeat, and nothing within the grace
    t.answer_late(record_block(533, 2, 0x00, a, kImageTail));
    EXPECT_EQ(retrieve(t), records::kRetrievalSilentAfterAll);
    auto r = runs(t, 6);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[1].first, trailer(2, 0xFF));
    EXPECT_EQ(r[2], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x02, 0xFF}, 7));
    EXPECT_EQ(r[3].first, trailer(2, 0x00));
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})).size(), 2u);

    a.total = 3;
    SilentAtTransport u({3});  // silent after the block with 0xFF
    u.answer(record_block(533, 1, 0xFE, a, kImageTail));
    u.answer(photo_block(2, 0xFF, 0x31));
    u.answer(record_block(533, 2, 0x00, a, kImageTail));
    u.answer(record_block(533, 3, 0x01, a, kImageTail));
    EXPECT_EQ(retrieve(u, 8), records::kRetrievalSilentAfterAll);
    auto s = runs(u, 6);
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[2], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x02, 0xFF}, 7));
    EXPECT_EQ(s[3].first, trailer(2, 0x00));
    EXPECT_EQ(s[4].first, trailer(3, 0x01));
    EXPECT_EQ(read_lines(data_path({"mj008.txt"})).size(), 3u);
}

TEST(RecordRetrieval, FirstUnexpectedReplyGetsAResendRequestFromSequenceZero) {
    FakeTransport t;
    t.answer(Bytes(3, 0x01));
    EXPECT_EQ(retrieve(t), records::kRetrievalSilentAfterAll);
    auto r = runs(t, 6);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x00, 0x00}, 7));
}

TEST(RecordRetrieval, FiveSilencesAreBridgedTheSixthEndsWithZero) {
    FakeTransport t;
    Access a;
    a.total = 3;
    t.answer(record_block(533, 1, 0x10, a, kImageTail));
    t.answer(photo_block(2, 0x11, 9));
    EXPECT_EQ(retrieve(t), records::kRetrievalFailed);
    auto r = runs(t, 6);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[2], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x02, 0x11}, 35));  // 5 resends x 7
    EXPECT_EQ(registry_value("TotalImg", "TotalImg7"), "3");
    EXPECT_EQ(registry_value("CurrentImg", "CurrentImg7"), "2");
    EXPECT_FALSE(std::filesystem::exists(data_path({"pic", "0071.jpg"})));
    EXPECT_EQ(t.closes, 1);
}

TEST(RecordRetrieval, ProgressKeysAtEveryTenthImageAndAtTheFinalSilence) {
    WatchingTransport t;
    Access a;
    a.total = 25;
    for (uint32_t image = 1; image <= 25; ++image) {
        a.card = static_cast<uint16_t>(image);
        t.answer(record_block(533, image, static_cast<uint8_t>(image), a, kImageTail));
    }
    EXPECT_EQ(retrieve(t), records::kRetrievalSilentAfterAll);
    EXPECT_EQ(t.progress(), (std::vector<std::string>{"", "10", "20"}));
    EXPECT_EQ(registry_value("CurrentImg", "CurrentImg7"), "25");
    EXPECT_EQ(registry_value("TotalImg", "TotalImg7"), "25");
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})).size(), 25u);
}

TEST(RecordRetrieval, RecordBlockWithoutEndOfImageKeepsItsWholeImageArea) {
    FakeTransport t;
    Access a;
    t.answer(record_block(533, 1, 1, a, Bytes(512, 0x42)));
    EXPECT_EQ(retrieve(t, 1), records::kRetrievalSilentAfterAll);
    const std::string name =
        "00500258"
        "20071112131415"
        "001"
        "0001.jpg";
    EXPECT_EQ(read_bytes(data_path({"pic", "00500258", name})), Bytes(512, 0x42));
}

// The end-of-image marker may straddle the last photo block and the record
// block, or close the photo blocks: no filler of the record block follows it.
TEST(RecordRetrieval, EndOfImageAcrossOrBeforeTheRecordBlockEndsThePhotoThere) {
    Access a;
    a.total = 2;
    Bytes first = photo_block(1, 1, 0x42);
    first[1023] = 0xFF;
    Bytes second = photo_block(2, 3, 0x43);
    second[1022] = 0xFF;
    second[1023] = 0xD9;
    FakeTransport t;
    t.answer(first);
    t.answer(record_block(1045, 1, 2, a, {0xD9}));
    t.answer(second);
    t.answer(record_block(533, 2, 4, a, {}));
    EXPECT_EQ(retrieve(t, 1), records::kRetrievalSilentAfterAll);
    Bytes expected = Bytes(first.begin(), first.begin() + 1024);
    expected.push_back(0xD9);
    const std::string stamp =
        "00500258"
        "20071112131415"
        "001";
    EXPECT_EQ(read_bytes(data_path({"pic", "00500258", stamp + "0001.jpg"})), expected);
    EXPECT_EQ(read_bytes(data_path({"pic", "00500258", stamp + "0002.jpg"})),
              Bytes(second.begin(), second.begin() + 1024));
}

TEST(RecordRetrieval, EndMarkerShortReplyAndEmptyDatagram) {
    FakeTransport end;
    end.answer({0x46, 0x64, 0x74, 0x84, 0x22});
    EXPECT_EQ(retrieve(end), records::kRetrievalEndMarker);
    EXPECT_TRUE(std::filesystem::exists(data_path({"pic", "0070.jpg"})));

    FakeTransport shortReply;
    shortReply.answer(photo_block(1, 4, 0));
    shortReply.answer(Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 5});  // in order by its last byte
    EXPECT_EQ(retrieve(shortReply, 2), records::kRetrievalShortReply);

    FakeTransport empty;
    empty.answer({});
    EXPECT_EQ(retrieve(empty, 3), records::kRetrievalFailed);
    EXPECT_EQ(empty.sent.size(), 6u);
}

TEST(RecordRetrieval, GivesUpAfterAHundredRejectedRepliesInARow) {
    FakeTransport t;
    for (int i = 0; i < 150; ++i) t.answer(Bytes(7, 0x77));
    EXPECT_EQ(retrieve(t), records::kRetrievalFailed);
    EXPECT_EQ(t.receives, 100);
}

TEST(RecordRetrieval, FileThatCannotBeOpenedEndsBeforeAnythingIsSent) {
    {
        std::ofstream blocker(data_path({"cardinfo"}));  // a file where the directory belongs
    }
    FakeTransport t;
    t.answer({0x46, 0x64, 0x74, 0x84, 0x22});
    EXPECT_EQ(retrieve(t), records::kRetrievalFailed);
    EXPECT_TRUE(t.sent.empty());
    EXPECT_EQ(t.opens, 1);
    EXPECT_EQ(t.closes, 1);
    EXPECT_EQ(records::TransferRecords(t, "127.0.0.1", 7, kMac, fixed_clock), records::kTransferFailed);
    EXPECT_TRUE(t.sent.empty());
}

// The file of the next photo cannot be opened: the record before it is kept,
// named and acknowledged, and nothing of the next photo is acknowledged.
TEST(RecordRetrieval, NextPhotoFileThatCannotBeOpenedStopsAfterTheRecordBefore) {
    std::filesystem::create_directories(data_path({"pic", "0071.jpg"}));  // a directory where it belongs
    FakeTransport t;
    Access a;
    a.total = 2;
    t.answer(record_block(533, 1, 0x01, a, kImageTail));
    t.answer(photo_block(2, 0x02, 0xAB));
    EXPECT_EQ(retrieve(t), records::kRetrievalFailed);
    auto r = runs(t, records::kRetrievalRequestCopies);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], std::make_pair(trailer(1, 0x01), records::kAcknowledgementCopies));
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})).size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(data_path({"pic", "00500258",
                                                   "00500258"
                                                   "20071112131415"
                                                   "007"
                                                   "0001.jpg"})));
}

// A controller frees a record once it is acknowledged, so by then its photo
// must lie under its final name: a host that dies right after the
// acknowledgement would otherwise keep it only under a temporary name that
// the next retrieval overwrites.
TEST(RecordRetrieval, APhotoHasItsFinalNameBeforeItsRecordIsAcknowledged) {
    struct Watching : FakeTransport {
        std::vector<bool> namedAtSend;
        int send(core::SocketHandle socket, const uint8_t* data, int length,
                 const core::Endpoint& to) override {
            namedAtSend.push_back(std::filesystem::exists(data_path({"pic", "00500258",
                                                                     "00500258"
                                                                     "20071112131415"
                                                                     "007"
                                                                     "0001.jpg"})));
            return FakeTransport::send(socket, data, length, to);
        }
    } t;
    Access a;
    a.total = 1;
    t.answer(record_block(533, 1, 0x01, a, kImageTail));
    EXPECT_EQ(retrieve(t), records::kRetrievalSilentAfterAll);
    ASSERT_EQ(t.namedAtSend.size(), records::kRetrievalRequestCopies + records::kAcknowledgementCopies);
    EXPECT_FALSE(t.namedAtSend.front());  // the retrieval request
    EXPECT_TRUE(t.namedAtSend.back());    // the acknowledgement of the record
}

// An exception in the middle of a photo (a failed allocation, here from the
// clock) leaves no photo file open behind the freed buffer it was written
// through: the file is closed, its bytes written, as the exception leaves.
TEST(RecordRetrieval, AnExceptionClosesThePhotoFileWithItsBytes) {
    static int clockCalls = 0;
    clockCalls = 0;
    auto throwing_clock = []() -> platform::LocalTime {
        if (++clockCalls > 1) throw std::bad_alloc();
        return fixed_clock();
    };
    const auto open_files = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = open_files();
    FakeTransport t;
    t.answer(photo_block(1, 0x01, 0xAB));
    t.answer(record_block(533, 1, 0x02, Access{}, kImageTail));
    EXPECT_THROW(records::RetrieveRecords(t, "127.0.0.1", 7, kMac, throwing_clock), std::bad_alloc);
    EXPECT_EQ(open_files(), before);
    Bytes photo(1024, 0xAB);
    photo.insert(photo.end(), kImageTail.begin(), kImageTail.end());
    EXPECT_EQ(read_bytes(data_path({"pic", "0070.jpg"})), photo);
    EXPECT_EQ(t.closes, 1);
}

// Before any round trip the timeout is a quarter second, then twice that:
// each time the resend request names the block the host holds, and the late
// block is taken as it comes.
TEST(RecordRetrieval, UnderTheAdaptiveWaitALateBlockIsAskedForAgainAfterTheTimeout) {
    testing::AdaptiveWaitOn on("127.0.0.33", 20);
    FakeTransport t;
    t.answer(photo_block(1, 1, 0xAB));
    t.answer_at(1500, record_block(533, 1, 2, Access{}, kImageTail));
    EXPECT_EQ(records::RetrieveRecords(t, "127.0.0.33", 7, kMac, fixed_clock),
              records::kRetrievalSilentAfterAll);
    auto r = runs(t);
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[1], std::make_pair(trailer(1, 1), 7));
    EXPECT_EQ(r[2], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x01, 0x01}, 14));
    EXPECT_EQ(t.sent[6 + 7].at, 250u);
    EXPECT_EQ(t.sent[6 + 14].at, 750u);
    EXPECT_EQ(r[3], std::make_pair(trailer(1, 2), 7));
    // After the last block, asked for again early, the stream ends with 2
    // seconds of silence as it always has.
    EXPECT_EQ(r[4], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x01, 0x02}, 7));
    EXPECT_EQ(t.clock, 1500u + 2000);
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})).size(), 1u);
}

TEST(RecordTexts, CardTextYearsAndLines) {
    EXPECT_EQ(records::CardText(5, 0x0102), "00500258");
    EXPECT_EQ(records::CardText(255, 65535), "25565535");
    EXPECT_EQ(records::FourDigitYear(7, fixed_clock()), 2007);
    EXPECT_EQ(records::FourDigitYear(99, fixed_clock()), 2099);
    records::RecordTime t{2007, 1, 2, 3, 4, 5};
    EXPECT_EQ(records::RecordLine("00500258", t, 12, 2), "00500258,20070102030405,012,2");
}

// Two retrievals of one controller that start in the same second: the second
// gets a name of its own ("..._2.txt") and the first file keeps its lines.
TEST(RecordFiles, RetrievalsStartingInTheSameSecondKeepTheirOwnFiles) {
    records::RecordFiles first, second, third;
    ASSERT_TRUE(first.open(7, fixed_clock()));
    ASSERT_TRUE(first.write_line("first", records::RecordFiles::Order::RetrievalFirst));
    ASSERT_TRUE(second.open(7, fixed_clock()));
    ASSERT_TRUE(second.write_line("second", records::RecordFiles::Order::RetrievalFirst));
    ASSERT_TRUE(third.open(7, fixed_clock()));
    EXPECT_EQ(first.retrieval_path(), data_path({"cardinfo", "20260304050607007.txt"}));
    EXPECT_EQ(second.retrieval_path(), data_path({"cardinfo", "20260304050607007_2.txt"}));
    EXPECT_EQ(third.retrieval_path(), data_path({"cardinfo", "20260304050607007_3.txt"}));
    EXPECT_EQ(read_lines(first.retrieval_path()), std::vector<std::string>{"first"});
    EXPECT_EQ(read_lines(second.retrieval_path()), std::vector<std::string>{"second"});
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})), (std::vector<std::string>{"first", "second"}));
}

// ---- Transfer retrieval ----------------------------------------------------

Bytes transfer_block(uint32_t blocks, uint32_t number, uint8_t inLast, uint8_t firstCard = 0) {
    Bytes b(1034, 0);
    b[0] = 0x40;
    b[1] = 0x14;
    for (size_t j = 0; j < 64; ++j) {
        const size_t at = 5 + 16 * j;
        b[at + 0] = 99;
        b[at + 1] = 12;
        b[at + 2] = 31;
        b[at + 3] = 23;
        b[at + 4] = 59;
        b[at + 5] = 58;
        b[at + 6] = static_cast<uint8_t>(number);
        b[at + 7] = 0x01;
        b[at + 8] = static_cast<uint8_t>(firstCard + j);
        b[at + 9] = 2;
    }
    b[1029] = static_cast<uint8_t>(blocks >> 8);
    b[1030] = static_cast<uint8_t>(blocks & 0xFF);
    b[1031] = static_cast<uint8_t>(number >> 8);
    b[1032] = static_cast<uint8_t>(number & 0xFF);
    b[1033] = inLast;
    return b;
}

uint32_t transfer(FakeTransport& t) { return records::TransferRecords(t, "127.0.0.1", 7, kMac, fixed_clock); }

TEST(TransferRetrieval, ThreeBlocksAskedForByNumberWithProgress) {
    WatchingTransport t;
    t.answer(transfer_block(3, 1, 10));
    t.answer({0x46, 0x64, 0x74, 0x84, 0x22});  // the end marker answers no block request
    t.answer(transfer_block(3, 2, 10));
    t.answer(transfer_block(3, 3, 10));
    EXPECT_EQ(transfer(t), records::kTransferComplete);
    auto r = runs(t);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].first, (Bytes{0x40, 0x14, 0x24, 0x34, 0x66, 0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56, 0x00}));
    EXPECT_EQ(r[1], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x03, 0x00, 0x01}, 12));
    EXPECT_EQ(r[2], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x03, 0x00, 0x02}, 6));
    EXPECT_EQ(r[3], std::make_pair(
                        Bytes{0xFF, 0xFF, 0x00, 0x03, 0x00, 0x03, 0xA0, 0xC9, 0x12, 0x34, 0x56, 0x00}, 6));
    EXPECT_EQ(t.progress(), (std::vector<std::string>{"", "64", "128"}));
    EXPECT_EQ(registry_value("CurrentImg", "CurrentImg7"), "138");
    EXPECT_EQ(registry_value("TotalImg", "TotalImg7"), "138");
    auto lines = read_lines(data_path({"mj007.txt"}));
    ASSERT_EQ(lines.size(), 138u);
    EXPECT_EQ(lines[0], "00100256,20991231235958,007,2");
    EXPECT_EQ(lines[137], "00300265,20991231235958,007,2");
    EXPECT_EQ(read_lines(data_path({"cardinfo", "20260304050607007.txt"})), lines);
}

TEST(TransferRetrieval, SingleBlockNeedsNoBlockRequestAndNeverReadsPastItsSlots) {
    FakeTransport empty;
    empty.answer(transfer_block(1, 1, 0));
    EXPECT_EQ(transfer(empty), records::kTransferComplete);
    EXPECT_EQ(empty.sent.size(), 6u);
    EXPECT_EQ(registry_value("TotalImg", "TotalImg7"), "0");
    EXPECT_EQ(registry_value("CurrentImg", "CurrentImg7"), "0");
    EXPECT_TRUE(read_lines(data_path({"mj007.txt"})).empty());

    FakeTransport tooMany;
    tooMany.answer(transfer_block(1, 1, 200));
    EXPECT_EQ(transfer(tooMany), records::kTransferComplete);
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})).size(), 64u);
    EXPECT_EQ(registry_value("TotalImg", "TotalImg7"), "64");
}

TEST(TransferRetrieval, WrongFirstBlockFailsAndWrongRepliesAreBounded) {
    FakeTransport notFirst;
    notFirst.answer(transfer_block(3, 2, 10));
    EXPECT_EQ(transfer(notFirst), records::kTransferFailed);

    FakeTransport wrongHead;
    Bytes b = transfer_block(1, 1, 1);
    b[1] = 0x15;
    wrongHead.answer(b);
    EXPECT_EQ(transfer(wrongHead), records::kTransferFailed);

    FakeTransport noise;
    for (int i = 0; i < 120; ++i) noise.answer(Bytes(20, 1));
    EXPECT_EQ(transfer(noise), records::kTransferFailed);
    EXPECT_EQ(noise.receives, 100);

    FakeTransport silentLater;
    silentLater.answer(transfer_block(2, 1, 3));
    EXPECT_EQ(transfer(silentLater), records::kTransferFailed);
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})).size(), 64u);  // what came stays
}

TEST(TransferRetrieval, UnderTheAdaptiveWaitALateBlockIsAskedForAgainAfterTheTimeout) {
    testing::AdaptiveWaitOn on("127.0.0.34", 20);
    FakeTransport t;
    t.answer(transfer_block(2, 1, 3));
    t.answer_at(1500, transfer_block(2, 2, 3));
    EXPECT_EQ(records::TransferRecords(t, "127.0.0.34", 7, kMac, fixed_clock), records::kTransferComplete);
    auto r = runs(t);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1], std::make_pair(Bytes{0xFF, 0xFF, 0x00, 0x02, 0x00, 0x01}, 18));
    EXPECT_EQ(t.sent[12].at, 250u);
    EXPECT_EQ(read_lines(data_path({"mj007.txt"})).size(), 67u);
}

}  // namespace
}  // namespace doorlink
