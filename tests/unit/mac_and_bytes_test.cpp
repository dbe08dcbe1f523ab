#include <gtest/gtest.h>

#include "core/bytes.h"
#include "core/library_state.h"
#include "core/mac.h"

namespace doorlink {
namespace {

TEST(MacText, ParsesTwelveHexDigitsOfEitherCase) {
    core::Mac mac{};
    ASSERT_EQ(core::ParseMacText("00a0C9ffEE01", mac), 1);
    EXPECT_EQ(mac, (core::Mac{0x00, 0xA0, 0xC9, 0xFF, 0xEE, 0x01}));
    EXPECT_EQ(core::FormatMacText(mac.data()), "00a0c9ffee01");
}

TEST(MacText, RefusesOtherTextsAndLeavesTheOutputAlone) {
    const core::Mac before{1, 2, 3, 4, 5, 6};
    for (const char* text : {"00-A0-C9-FF-EE-01", "00A0C9FFEE0G", "00A0C9FFEE0", "00A0C9FFEE012", "",
                             " 0A0C9FFEE01", "00A0C9FFEE01 "}) {
        core::Mac mac = before;
        EXPECT_EQ(core::ParseMacText(text, mac), 0) << text;
        EXPECT_EQ(mac, before) << text;
    }
    core::Mac mac = before;
    EXPECT_EQ(core::ParseMacText(nullptr, mac), 0);
}

TEST(ByteWriter, WritesBigEndianAndFlagsWritesOutsideTheArea) {
    std::array<uint8_t, 4> area{};
    core::ByteWriter w(area);
    w.u16_be(0, 300).u8(2, 0x7F);
    EXPECT_TRUE(w.ok());
    EXPECT_EQ(area, (std::array<uint8_t, 4>{0x01, 0x2C, 0x7F, 0x00}));
    w.u16_be(3, 0xFFFF);
    EXPECT_FALSE(w.ok());
    EXPECT_EQ(area[3], 0xFF);  // the byte inside was written, the one past it was not
    const uint8_t six[6] = {};
    EXPECT_FALSE(core::ByteWriter(area).bytes(1, six, 6).ok());
}

TEST(ByteReader, NeverReadsPastTheEnd) {
    const uint8_t data[3] = {0x01, 0x2C, 0x05};
    core::ByteReader r(data, 3);
    EXPECT_EQ(r.u16_be(0), 300u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.u16_be(2), 0x0500u);  // the missing byte reads as 0
    EXPECT_FALSE(r.ok());
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_FALSE(r.copy(1, out, 4));
    EXPECT_EQ(out[0], 0);
    EXPECT_TRUE(r.has(3, 0));
    EXPECT_FALSE(r.has(4, 0));
}

TEST(ModuleDirectory, IsThePathBeforeTheLastSeparator) {
    EXPECT_EQ(core::module_directory_of("C:\\Access\\bin\\host.exe", '\\'), "C:\\Access\\bin");
    EXPECT_EQ(core::module_directory_of("/opt/access/host", '/'), "/opt/access");
    EXPECT_EQ(core::module_directory_of("host", '/'), "");
    // Only the first 500 characters are looked at.
    std::string longPath = "/a" + std::string(600, 'x') + "/host";
    EXPECT_EQ(core::module_directory_of(longPath, '/'), "");
}

}  // namespace
}  // namespace doorlink
