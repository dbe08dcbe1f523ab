// The result text GetCardNo makes of a four-byte card reply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cardlists/card_reader.h"

namespace doorlink {
namespace {

std::string result_of(std::initializer_list<uint8_t> bytes) {
    uint8_t reply[4];
    std::copy(bytes.begin(), bytes.end(), reply);
    char text[cardlists::kCardResultSize];
    std::memset(text, 'x', sizeof text);
    cardlists::FormatCardResult(reply, text);
    EXPECT_EQ(std::strlen(text), 19u);
    return text;
}

TEST(CardResult, TenDigitValueCommaAndCardText) {
    EXPECT_EQ(result_of({0x00, 0x0C, 0x30, 0x39}), "0000798777,01212345");
    // The value is unsigned: all ones fill the ten digits, the top bit alone
    // is not negative.
    EXPECT_EQ(result_of({0xFF, 0xFF, 0xFF, 0xFF}), "4294967295,25565535");
    EXPECT_EQ(result_of({0x80, 0x00, 0x00, 0x00}), "2147483648,00000000");
    // b0 is part of the value only; the card text is b1 and b2 * 256 + b3.
    EXPECT_EQ(result_of({0x01, 0x00, 0x00, 0x01}), "0016777217,00000001");
    EXPECT_EQ(result_of({0x00, 0x00, 0x00, 0x00}), "0000000000,00000000");
}

}  // namespace
}  // namespace doorlink
