// ErrorScore and DoorPic logic against a scripted monitoring socket.
#include <gtest/gtest.h>

#include <fstream>

#include "records/pushed.h"
#include "support/data_files.h"
#include "support/fake_transport.h"

namespace doorlink {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::data_path;
using testing::FakeTransport;
using testing::read_bytes;

platform::LocalTime clock_2026() {
    platform::LocalTime t;
    t.year = 2026;
    return t;
}

// A block of the photo with the given id (the same in all its blocks).
Bytes live_block(uint8_t number, uint8_t count, uint8_t fill, uint8_t photoId = 0xA3) {
    Bytes b(1052, 0);
    std::fill(b.begin() + 10, b.begin() + 1034, fill);
    b[1034] = 7;     // site
    b[1035] = 0x30;  // card 0x3039 = 12345
    b[1036] = 0x39;
    b[1037] = 0xA1;
    b[1038] = 0xA2;
    b[1039] = photoId;
    b[1040] = 26;
    b[1041] = 2;
    b[1042] = 28;
    b[1043] = 9;
    b[1044] = 5;
    b[1050] = count;
    b[1051] = number;
    return b;
}

Bytes resend_for(uint8_t photoId = 0xA3) {
    return {0x73, 0x37, 0x47, 0x57, 7, 0x30, 0x39, 0xA1, 0xA2, photoId};
}

uint32_t door_pic(FakeTransport& t, char* card, char* time) {
    return records::ReceiveLivePhoto(t, 99, card, time, clock_2026);
}

TEST(LivePhoto, OneBlockOrNoneAnnouncedWritesExactly1024BytesAndSendsNothing) {
    for (uint8_t count : {uint8_t{0}, uint8_t{1}}) {
        FakeTransport t;
        t.answer(live_block(0, count, 0x5C));
        char card[9];
        char time[17];
        ASSERT_EQ(door_pic(t, card, time), 1u);
        EXPECT_STREQ(card, "00712345");
        EXPECT_STREQ(time, "2026-02-28 09:05");
        EXPECT_EQ(read_bytes(data_path({"curpic", "00712345.jpg"})), Bytes(1024, 0x5C));
        EXPECT_TRUE(t.sent.empty());
    }
}

TEST(LivePhoto, BlocksOutOfTurnAreAskedForAgainAndGoToTheirSender) {
    FakeTransport t;
    const core::Endpoint controller{0x0200007F, 0x2823};
    t.answer(live_block(1, 3, 1, 0xB0), controller);  // of another photo, before block 0
    t.answer(live_block(0, 3, 0), controller);
    t.answer(live_block(2, 3, 2), controller);  // while block 1 is due
    t.answer(live_block(1, 3, 9, 0xB0), controller);
    t.answer(live_block(1, 3, 1), controller);
    t.answer(live_block(2, 3, 2), controller);
    char card[9];
    char time[17];
    ASSERT_EQ(door_pic(t, card, time), 1u);
    ASSERT_EQ(t.sent.size(), 3u);
    EXPECT_EQ(t.sent[0].bytes, resend_for(0xB0));
    EXPECT_EQ(t.sent[1].bytes, resend_for());
    // A block of another photo leaves the echo as it was.
    EXPECT_EQ(t.sent[2].bytes, resend_for());
    EXPECT_EQ(t.sent[0].to.address, controller.address);
    Bytes expected(1024, 0);
    expected.insert(expected.end(), 1024, 1);
    expected.insert(expected.end(), 1024, 2);
    EXPECT_EQ(read_bytes(data_path({"curpic", "00712345.jpg"})), expected);
}

TEST(LivePhoto, FiveSilencesInARowEndTheCallAndTheFileKeepsWhatCame) {
    FakeTransport t;
    t.answer(live_block(0, 4, 0));
    t.answer(live_block(1, 4, 1));
    char card[9];
    char time[17];
    EXPECT_EQ(door_pic(t, card, time), 0u);
    // Four silences answered by two resend requests each; the fifth ends it.
    ASSERT_EQ(t.sent.size(), 8u);
    for (const auto& s : t.sent) EXPECT_EQ(s.bytes, resend_for());
    Bytes expected(1024, 0);
    expected.insert(expected.end(), 1024, 1);
    EXPECT_EQ(read_bytes(data_path({"curpic", "00712345.jpg"})), expected);
}

TEST(LivePhoto, ABlockOfTheNextSwipeOfTheSameCardInTheSameMinuteIsNeverJoinedIn) {
    FakeTransport t;
    t.answer(live_block(0, 3, 0xAA, 1));
    // Block 1 of photo 1 is lost, and photo 2 of the same card, minute and
    // size comes whole before it.
    for (uint8_t block = 0; block < 3; ++block) t.answer(live_block(block, 3, 0xBB, 2));
    t.answer(live_block(1, 3, 0xAA, 1));
    t.answer(live_block(2, 3, 0xAA, 1));
    char card[9];
    char time[17];
    ASSERT_EQ(door_pic(t, card, time), 1u);
    EXPECT_EQ(read_bytes(data_path({"curpic", "00712345.jpg"})), Bytes(3072, 0xAA));
    for (const auto& s : t.sent) EXPECT_EQ(s.bytes, resend_for(1));
}

TEST(LivePhoto, SilenceBeforeTheFirstBlockAndAnUncreatablePhotoFileGiveZero) {
    FakeTransport silent;
    char card[9] = "none";
    char time[17] = "none";
    EXPECT_EQ(door_pic(silent, card, time), 0u);
    EXPECT_TRUE(silent.sent.empty());

    std::filesystem::remove_all(data_path({"curpic"}));
    { std::ofstream blocker(data_path({"curpic"})); }  // a file where the directory belongs
    FakeTransport t;
    t.answer(live_block(0, 1, 0));
    EXPECT_EQ(door_pic(t, card, time), 0u);
    EXPECT_STREQ(card, "none");
}

TEST(ErrorReport, AcknowledgementsAreSkippedButNotForever) {
    FakeTransport t;
    for (int i = 0; i < 120; ++i) {
        t.answer({0xF1, 0xF2, 0, 0, 0, 0, 0, 0, 0, 0});
    }
    char text[1066] = "untouched";
    EXPECT_EQ(records::ReceiveErrorReport(t, 99, text, 1), 0u);
    EXPECT_STREQ(text, "untouched");

    // A 10-byte report that does not open with 0xF1 0xF2 is a report; one
    // that is longer than ten bytes too.
    FakeTransport u;
    u.answer({0xF1, 0xF3, 'A', 'B', 0, 0, 0, 0, 0, 0});
    ASSERT_EQ(records::ReceiveErrorReport(u, 99, text, 42), 1u);
    EXPECT_STREQ(text,
                 "\xBB\xFA\xBA\xC5: 042\n\xF1\xF3"
                 "AB");
}

}  // namespace
}  // namespace doorlink
