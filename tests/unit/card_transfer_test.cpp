// The download and read-back protocols over a scripted transport.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "cardlists/download.h"
#include "cardlists/list_files.h"
#include "cardlists/readback.h"
#include "core/paths.h"
#include "platform/profile.h"
#include "support/adaptive_wait.h"
#include "support/data_files.h"
#include "support/fake_transport.h"

namespace doorlink::cardlists {
namespace {

using testing::FakeTransport;
using Bytes = std::vector<uint8_t>;

const char* kMac = "00a0c9000001";
const Bytes kMacBytes = {0x00, 0xA0, 0xC9, 0x00, 0x00, 0x01};

Bytes announcement_reply(unsigned count, bool acknowledged = true) {
    Bytes r = acknowledged ? testing::acknowledgement() : Bytes(10, 0x11);
    r.push_back(static_cast<uint8_t>(count >> 8));
    r.push_back(static_cast<uint8_t>(count & 0xFF));
    return r;
}

Bytes record_reply(unsigned count, unsigned index) {
    Bytes r(10, 0x00);
    r.insert(r.end(), {static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count & 0xFF),
                       static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index & 0xFF)});
    return r;
}

// A list file of count records of size bytes, record i filled with i + 1.
void write_list(int list, size_t count, size_t size) {
    EnsureListDirectory();
    std::ofstream out(ListFilePath(list), std::ios::binary | std::ios::trunc);
    for (size_t i = 0; i < count; ++i) out << std::string(size, static_cast<char>(i + 1));
}

std::string registry_value(const char* name, int list) {
    char buffer[64];
    std::string key = name + std::to_string(list);
    platform::profile_read_string(name, key.c_str(), "", buffer, sizeof buffer,
                                  core::registry_path().c_str());
    return buffer;
}

TEST(Download, AnnouncementThenFiveCopiesOfEachRecord) {
    write_list(7, 3, kShortRecordSize);
    FakeTransport t;
    t.answer(announcement_reply(3));
    for (unsigned i = 0; i < 3; ++i) t.answer(record_reply(3, i));
    ASSERT_EQ(DownloadList(t, "127.0.0.1", 3, 7, kMac, RecordKind::Short), 1u);
    EXPECT_EQ(t.closes, 1);
    ASSERT_EQ(t.sent.size(), 1u + 15u);
    const Bytes& a = t.sent[0].bytes;
    Bytes expected = {0x49, 0x94, 0x04, 0x14, 0x55, 0x49, 0x94, 0x04, 0x14, 0x55, 0x00, 0x03};
    expected.insert(expected.end(), kMacBytes.begin(), kMacBytes.end());
    expected.insert(expected.end(), {0x00, 0x03});
    expected.insert(expected.end(), kMacBytes.begin(), kMacBytes.end());
    EXPECT_EQ(a, expected);
    for (size_t s = 1; s < t.sent.size(); ++s) {
        const Bytes& d = t.sent[s].bytes;
        const uint8_t index = static_cast<uint8_t>((s - 1) / 5);
        ASSERT_EQ(d.size(), kRecordDatagramLength);
        EXPECT_EQ(Bytes(d.begin(), d.begin() + 10),
                  (Bytes{0x50, 0x05, 0x15, 0x25, 0x77, 0x50, 0x05, 0x15, 0x25, 0x77}));
        EXPECT_EQ(Bytes(d.begin() + 10, d.begin() + 310), Bytes(300, static_cast<uint8_t>(index + 1)));
        EXPECT_EQ(Bytes(d.begin() + 310, d.begin() + 522), Bytes(212, 0));
        EXPECT_EQ(Bytes(d.begin() + 522, d.end()), (Bytes{0, 3, 0, index}));
    }
    EXPECT_EQ(registry_value("TolNameList", 7), "3");
    EXPECT_EQ(registry_value("CurNameList", 7), "3");
}

TEST(Download, LongRecordsLeaveLessZeroFillAndIndexesTravelHighByteFirst) {
    write_list(8, 259, kLongRecordSize);
    FakeTransport t;
    t.answer(announcement_reply(259));
    for (unsigned i = 0; i < 259; ++i) t.answer(record_reply(259, i));
    ASSERT_EQ(DownloadList(t, "127.0.0.1", 259, 8, kMac, RecordKind::Long), 1u);
    const Bytes& d = t.sent.back().bytes;
    EXPECT_EQ(Bytes(d.begin() + 10, d.begin() + 370), Bytes(360, static_cast<uint8_t>(259)));
    EXPECT_EQ(Bytes(d.begin() + 370, d.begin() + 522), Bytes(152, 0));
    EXPECT_EQ(Bytes(d.begin() + 522, d.end()), (Bytes{0x01, 0x03, 0x01, 0x02}));
}

TEST(Download, AnnouncementReplies) {
    // Any first ten bytes will do when the count is echoed; a reply of another
    // length is answered with the announcement again.
    FakeTransport a;
    a.answer(Bytes(14, 0));
    a.answer(announcement_reply(0, false));
    EXPECT_EQ(DownloadList(a, "127.0.0.1", 0, 1, kMac, RecordKind::Short), 1u);
    EXPECT_EQ(a.sent.size(), 2u);

    // After a 12-byte reply with another count, only the acknowledgement with
    // the count passes.
    FakeTransport b;
    b.answer(announcement_reply(5));
    b.answer(announcement_reply(0, false));
    b.answer(announcement_reply(0));
    EXPECT_EQ(DownloadList(b, "127.0.0.1", 0, 1, kMac, RecordKind::Short), 1u);
    EXPECT_EQ(b.sent.size(), 3u);
}

TEST(Download, StaleRepliesWaitForTheDueOneThenTheRecordGoesAgain) {
    write_list(2, 2, kShortRecordSize);
    // Copies of earlier acknowledgements followed by the due one: each record
    // goes out once.
    FakeTransport copies;
    copies.answer(announcement_reply(2));
    copies.answer(announcement_reply(2));
    copies.answer(record_reply(2, 0));
    copies.answer(record_reply(2, 0));
    copies.answer(record_reply(2, 1));
    ASSERT_EQ(DownloadList(copies, "127.0.0.1", 2, 2, kMac, RecordKind::Short), 1u);
    EXPECT_EQ(copies.sent.size(), 1u + 5u + 5u);

    // A controller that answers record 1 with index 0 and nothing more within
    // the grace gets record 1 again, as after a wrong reply.
    FakeTransport t;
    t.answer(announcement_reply(2));
    t.answer(record_reply(2, 0));
    t.answer(record_reply(2, 0));
    t.answer_late(Bytes(13, 0));  // a wrong length
    t.answer(record_reply(2, 1));
    ASSERT_EQ(DownloadList(t, "127.0.0.1", 2, 2, kMac, RecordKind::Short), 1u);
    EXPECT_EQ(t.sent.size(), 1u + 5u + 15u);
    EXPECT_EQ(t.sent.back().bytes, t.sent[6].bytes);
}

TEST(Download, GivesUpAfterAHundredRejectedRepliesOrASilence) {
    write_list(3, 1, kShortRecordSize);
    FakeTransport wrong;
    wrong.answer(announcement_reply(1));
    for (int i = 0; i < 150; ++i) wrong.answer(record_reply(1, 7));
    EXPECT_EQ(DownloadList(wrong, "127.0.0.1", 1, 3, kMac, RecordKind::Short), 0u);
    EXPECT_EQ(wrong.sent.size(), 1u + 5u * 100u);
    EXPECT_EQ(wrong.closes, 1);

    FakeTransport announcement;
    for (int i = 0; i < 150; ++i) announcement.answer(Bytes(3, 0));
    EXPECT_EQ(DownloadList(announcement, "127.0.0.1", 1, 3, kMac, RecordKind::Short), 0u);
    EXPECT_EQ(announcement.sent.size(), 100u);

    FakeTransport silent;
    EXPECT_EQ(DownloadList(silent, "127.0.0.1", 1, 3, kMac, RecordKind::Short), 0u);
    EXPECT_EQ(silent.sent.size(), 1u);
    EXPECT_EQ(silent.closes, 1);
}

TEST(Download, RefusesBeforeAnyDatagram) {
    write_list(4, 2, kShortRecordSize);
    FakeTransport t;
    EXPECT_EQ(DownloadList(t, nullptr, 1, 4, kMac, RecordKind::Short), 0u);
    EXPECT_EQ(registry_value("TolNameList", 4), "");
    // The announced total is published before the checks, also for a call that fails.
    EXPECT_EQ(DownloadList(t, "127.0.0.1", 1, 4, "00a0c900000", RecordKind::Short), 0u);
    EXPECT_EQ(registry_value("TolNameList", 4), "1");
    EXPECT_EQ(DownloadList(t, "127.0.0.1", -1, 4, kMac, RecordKind::Short), 0u);
    EXPECT_EQ(DownloadList(t, "127.0.0.1", 65536, 4, kMac, RecordKind::Short), 0u);
    EXPECT_EQ(registry_value("TolNameList", 4), "65536");
    // A list file that cannot hold the records announced, or none at all.
    EXPECT_EQ(DownloadList(t, "127.0.0.1", 3, 4, kMac, RecordKind::Short), 0u);
    EXPECT_EQ(DownloadList(t, "127.0.0.1", 2, 4, kMac, RecordKind::Long), 0u);
    EXPECT_EQ(DownloadList(t, "127.0.0.1", 1, 5, kMac, RecordKind::Short), 0u);
    EXPECT_EQ(t.opens, 0);
}

Bytes readback_reply(unsigned index, unsigned total, uint8_t fill) {
    Bytes r(kReadBackReplyLength, 0);
    std::fill(r.begin(), r.begin() + 360, fill);
    r[510] = static_cast<uint8_t>(index >> 8);
    r[511] = static_cast<uint8_t>(index & 0xFF);
    r[526] = static_cast<uint8_t>(total >> 8);
    r[527] = static_cast<uint8_t>(total & 0xFF);
    return r;
}

TEST(ReadBack, RequestsAndFile) {
    FakeTransport t;
    t.answer(readback_reply(0, 3, 0xA0));
    t.answer(readback_reply(0, 3, 0xEE));  // an earlier index, and nothing in the grace: asked again
    t.answer_late(readback_reply(1, 3, 0xA1));
    t.answer(Bytes(527, 0));  // wrong length: asked again
    t.answer(readback_reply(2, 3, 0xA2));
    ASSERT_EQ(ReadBackList(t, "127.0.0.1", 9, kMac), 1u);
    ASSERT_EQ(t.sent.size(), 5u);
    Bytes request = {0x32, 0x23, 0x33, 0x43, 0x77, 0x00, 0x01};
    request.insert(request.end(), kMacBytes.begin(), kMacBytes.end());
    request.push_back(0x00);
    EXPECT_EQ(t.sent[1].bytes, request);
    EXPECT_EQ(t.sent[2].bytes, request);
    Bytes expected(360, 0xA0);
    expected.insert(expected.end(), 360, 0xA1);
    expected.insert(expected.end(), 360, 0xA2);
    EXPECT_EQ(testing::read_bytes(ReadBackFilePath(9)), expected);
    EXPECT_EQ(registry_value("ReTolNameList", 9), "3");
    EXPECT_EQ(registry_value("ReCurNameList", 9), "3");
}

TEST(ReadBack, FiveSilencesAreForgivenNotSix) {
    // The fake answers -1 while its queue is empty; script five silences.
    struct Silences : FakeTransport {
        int silencesLeft = 0;
        int receive(core::SocketHandle s, uint8_t* b, int c, core::Endpoint& f) override {
            if (sent.size() >= 2 && silencesLeft > 0) {
                --silencesLeft;
                return -1;
            }
            return FakeTransport::receive(s, b, c, f);
        }
    };
    Silences five;
    five.silencesLeft = 5;
    five.answer(readback_reply(0, 2, 1));
    five.answer(readback_reply(1, 2, 2));
    EXPECT_EQ(ReadBackList(five, "127.0.0.1", 1, kMac), 1u);
    EXPECT_EQ(five.sent.size(), 7u);

    Silences six;
    six.silencesLeft = 6;
    six.answer(readback_reply(0, 2, 1));
    six.answer(readback_reply(1, 2, 2));
    EXPECT_EQ(ReadBackList(six, "127.0.0.1", 1, kMac), 0u);
    EXPECT_EQ(six.sent.size(), 7u);
    EXPECT_EQ(six.closes, 1);
    // The records read so far stay in the file.
    EXPECT_EQ(testing::read_bytes(ReadBackFilePath(1)).size(), 360u);

    // A silence on record 0 ends the read-back at once.
    FakeTransport silent;
    EXPECT_EQ(ReadBackList(silent, "127.0.0.1", 1, kMac), 0u);
    EXPECT_EQ(silent.sent.size(), 1u);
}

TEST(ReadBack, GivesUpAfterAHundredRejectedReplies) {
    FakeTransport t;
    for (int i = 0; i < 120; ++i) t.answer(readback_reply(5, 9, 0));
    EXPECT_EQ(ReadBackList(t, "127.0.0.1", 1, kMac), 0u);
    EXPECT_EQ(t.sent.size(), 100u);
}

// Record 0 after 4 ms, record 1 after five silences of index 1 and half a
// second more, then nothing: the read-back fails after six silences of index
// 2, with the adaptive wait on as with it off.
uint32_t read_back_with_silences(FakeTransport& t, const char* address) {
    t.answer_at(4, readback_reply(0, 3, 1));
    t.answer_at(4 + 5 * 2000 + 500, readback_reply(1, 3, 2));
    return ReadBackList(t, address, 1, kMac);
}

TEST(ReadBack, UnderTheAdaptiveWaitTheForgivenSilencesAreStillTwoSecondsLong) {
    FakeTransport fixed;
    EXPECT_EQ(read_back_with_silences(fixed, "127.0.0.31"), 0u);
    EXPECT_EQ(fixed.sent.size(), 1u + 6 + 6);
    EXPECT_EQ(fixed.clock, 4u + 10500 + 12000);

    testing::AdaptiveWaitOn on("127.0.0.31", 20);
    FakeTransport adaptive;
    EXPECT_EQ(read_back_with_silences(adaptive, "127.0.0.31"), 0u);
    EXPECT_EQ(adaptive.clock, fixed.clock);
    EXPECT_EQ(testing::read_bytes(ReadBackFilePath(1)).size(), 720u);
    // Each send after a silence comes at the moment it comes with the fixed
    // wait; besides them, index 1 went early 20, 40, 80 ... ms apart (a
    // timeout of 20 after a round trip of 4 ms, doubled each time).
    auto times = [](const FakeTransport& t) {
        std::vector<uint32_t> at;
        for (const auto& sent : t.sent) at.push_back(sent.at);
        return at;
    };
    const std::vector<uint32_t> fixedTimes = times(fixed);
    const std::vector<uint32_t> adaptiveTimes = times(adaptive);
    EXPECT_TRUE(
        std::includes(adaptiveTimes.begin(), adaptiveTimes.end(), fixedTimes.begin(), fixedTimes.end()));
    EXPECT_EQ(std::vector<uint32_t>(adaptiveTimes.begin() + 1, adaptiveTimes.begin() + 4),
              (std::vector<uint32_t>{4, 24, 64}));
}

// A copy of record 0 opens the grace in which record 1 may still come; the
// timeout of 6 ms (a round trip of 2) ends it sooner than its 30 ms.
TEST(ReadBack, UnderTheAdaptiveWaitTheTimeoutCutsTheGraceAfterAStaleReplyShort) {
    testing::AdaptiveWaitOn on("127.0.0.33", 5);
    FakeTransport t;
    t.answer_at(2, readback_reply(0, 2, 1));
    t.answer_at(3, readback_reply(0, 2, 1));
    t.answer_at(40, readback_reply(1, 2, 2));
    EXPECT_EQ(ReadBackList(t, "127.0.0.33", 1, kMac), 1u);
    ASSERT_EQ(t.sent.size(), 4u);
    EXPECT_EQ(t.sent[1].at, 2u);
    EXPECT_EQ(t.sent[2].at, 8u);
    EXPECT_EQ(t.sent[3].at, 20u);
}

TEST(ReadBack, UnderTheAdaptiveWaitAPeerReplayingOldRecordsForeverIsGivenUp) {
    testing::AdaptiveWaitOn on("127.0.0.32", 1);
    FakeTransport t;
    t.answer_at(1, readback_reply(0, 9, 0));
    for (uint32_t i = 1; i <= 1000; ++i) t.answer_at(1 + 300 * i, readback_reply(0, 9, 0));
    EXPECT_EQ(ReadBackList(t, "127.0.0.32", 1, kMac), 0u);
    EXPECT_EQ(t.incoming.size(), 1000u - 100);
    EXPECT_LE(t.sent.size(), 1u + 2 * 100);
}

}  // namespace
}  // namespace doorlink::cardlists
