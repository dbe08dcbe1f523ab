// The card, digit and day field encoders and the record builder.
#include <gtest/gtest.h>

#include <vector>

#include "cardlists/card_record.h"
#include "cardlists/encoders.h"

namespace doorlink::cardlists {
namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes bytes(const std::array<uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

Bytes with_empty_slots(Bytes filled) {
    filled.resize(kDayFieldSize, kEmptyRangeByte);
    return filled;
}

TEST(CardText, SiteByteAndCardNumberHighByteFirst) {
    EXPECT_EQ(bytes(EncodeCardText("12345678", 0)), (Bytes{0x7B, 0xB2, 0x6E, 0, 0, 0}));
    // 99999 and site 300 are kept modulo their width.
    EXPECT_EQ(bytes(EncodeCardText("00099999", 0)), (Bytes{0x00, 0x86, 0x9F, 0, 0, 0}));
    EXPECT_EQ(bytes(EncodeCardText("30065536", 0)), (Bytes{0x2C, 0x00, 0x00, 0, 0, 0}));
    EXPECT_EQ(bytes(EncodeCardText("", 0)), Bytes(6, 0));
}

TEST(CardText, ReadsAtTheOffsetAndTreatsTheEndAsEmpty) {
    const std::string value = "00112345,25565535,001";
    EXPECT_EQ(bytes(EncodeCardText(value, 9)), (Bytes{255, 0xFF, 0xFF, 0, 0, 0}));
    // Card text 2 has only a site; the number past the end reads as 0.
    EXPECT_EQ(bytes(EncodeCardText(value, 18)), (Bytes{1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bytes(EncodeCardText(value, 90)), Bytes(6, 0));
    // Each part is read as a number of its own: "12a" gives 12, " 7" gives 7.
    EXPECT_EQ(bytes(EncodeCardText("12a    7", 0)), (Bytes{12, 0, 7, 0, 0, 0}));
}

TEST(DigitText, MissingCharactersFollowTheEndRule) {
    EXPECT_EQ(bytes(EncodeDigitText("123", DigitEnd::Zero)), (Bytes{1, 2, 3, 0, 0, 0}));
    EXPECT_EQ(bytes(EncodeDigitText("123", DigitEnd::Converted)), (Bytes{1, 2, 3, 0xD0, 0xD0, 0xD0}));
    EXPECT_EQ(bytes(EncodeDigitText("98765432", DigitEnd::Zero)), (Bytes{9, 8, 7, 6, 5, 4}));
    // Not only digits: 'A' is 0x41 - 0x30.
    EXPECT_EQ(bytes(EncodeDigitText("A0", DigitEnd::Zero)), (Bytes{0x11, 0, 0, 0, 0, 0}));
}

TEST(DayText, RangesWithAnySeparator) {
    EXPECT_EQ(bytes(ParseDayText("0800-1200-01;1300:1730/02,")),
              with_empty_slots({8, 0, 12, 0, 1, 13, 0, 17, 30, 2}));
    EXPECT_EQ(bytes(ParseDayText("")), Bytes(kDayFieldSize, kEmptyRangeByte));
}

TEST(DayText, MissingPartsAndEmptyParts) {
    // No final separator: one range; no tag: tag 0; a lone time: no range.
    EXPECT_EQ(bytes(ParseDayText("0800-1200-01")), with_empty_slots({8, 0, 12, 0, 1}));
    EXPECT_EQ(bytes(ParseDayText("0800-1200")), with_empty_slots({8, 0, 12, 0, 0}));
    EXPECT_EQ(bytes(ParseDayText("0800")), Bytes(kDayFieldSize, kEmptyRangeByte));
    // Two separators in a row open a range of empty parts.
    EXPECT_EQ(bytes(ParseDayText("0800-1200-01;;")), with_empty_slots({8, 0, 12, 0, 1, 0, 0, 0, 0, 0}));
}

TEST(DayText, NumbersAreCutByPositionAndHeldToAByte) {
    // "800" is 80 and 0; 2561 is 25 and 61; tag 300 becomes 0; a part is cut
    // to four characters.
    EXPECT_EQ(bytes(ParseDayText("800-2561-300;")), with_empty_slots({80, 0, 25, 61, 0}));
    EXPECT_EQ(bytes(ParseDayText("080099-1200-00123;")), with_empty_slots({8, 0, 12, 0, 12}));
    EXPECT_EQ(bytes(ParseDayText(" 8 9-1200-7;")), with_empty_slots({8, 9, 12, 0, 7}));
}

TEST(DayText, NinthRangeIsIgnored) {
    std::string text;
    for (int i = 0; i < 9; ++i) text += "0100-0200-0" + std::to_string(i) + ";";
    Bytes expected;
    for (uint8_t i = 0; i < 8; ++i) expected.insert(expected.end(), {1, 0, 2, 0, i});
    EXPECT_EQ(bytes(ParseDayText(text)), expected);
}

CardValues sample_card() {
    CardValues card;
    card.cardNo = "00112345,00254321";
    card.serialNo = "123456";
    card.userStyle = 0;
    card.days = {"0800-1200-01;", "", "", "", "", "", "2300-2359-255;"};
    card.password = "654321";
    card.openStyle = 1;
    return card;
}

TEST(CardRecord, FieldsAtTheirOffsets) {
    uint8_t record[kLongRecordSize];
    BuildCardRecord(sample_card(), RecordKind::Long, DigitEnd::Zero, record);
    Bytes r(record, record + kLongRecordSize);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 6), (Bytes{1, 0x30, 0x39, 0, 0, 0}));
    EXPECT_EQ(Bytes(r.begin() + 6, r.begin() + 12), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(r[12], 0);
    EXPECT_EQ(Bytes(r.begin() + 13, r.begin() + 18), (Bytes{8, 0, 12, 0, 1}));
    EXPECT_EQ(r[53], kEmptyRangeByte);
    EXPECT_EQ(Bytes(r.begin() + 253, r.begin() + 258), (Bytes{23, 0, 23, 59, 255}));
    EXPECT_EQ(r[292], kEmptyRangeByte);
    EXPECT_EQ(Bytes(r.begin() + 293, r.begin() + 299), (Bytes{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(r[299], 1);
    EXPECT_EQ(Bytes(r.begin() + 300, r.begin() + 306), (Bytes{2, 0xD4, 0x31, 0, 0, 0}));
    EXPECT_EQ(Bytes(r.begin() + 306, r.end()), Bytes(54, 0));

    // The short record is the first 300 bytes of the long one.
    uint8_t shortRecord[kShortRecordSize];
    BuildCardRecord(sample_card(), RecordKind::Short, DigitEnd::Zero, shortRecord);
    EXPECT_EQ(Bytes(shortRecord, shortRecord + kShortRecordSize), Bytes(r.begin(), r.begin() + 300));
}

TEST(CardRecord, StylesOfSourceTexts) {
    EXPECT_EQ(UserStyleOf("0"), 0);
    EXPECT_EQ(UserStyleOf(""), 1);
    EXPECT_EQ(UserStyleOf("00"), 1);
    EXPECT_EQ(OpenStyleOf("0"), 0);
    EXPECT_EQ(OpenStyleOf("1"), 1);
    EXPECT_EQ(OpenStyleOf(""), 2);
    EXPECT_EQ(OpenStyleOf("01"), 2);
}

}  // namespace
}  // namespace doorlink::cardlists
