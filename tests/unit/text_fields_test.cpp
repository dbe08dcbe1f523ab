#include <gtest/gtest.h>

#include "commands/text_fields.h"

namespace doorlink::commands {
namespace {

TEST(ItemCount, CountsWholeItemsAndALastItemWithoutItsSeparator) {
    EXPECT_EQ(count_items("0830,1730", 5, 8), 2u);  // 9 = 5 + 4
    EXPECT_EQ(count_items("0830,17", 5, 8), 1u);    // 7: the trailing 17 is no item
    EXPECT_EQ(count_items("083", 5, 8), 0u);
    EXPECT_EQ(count_items("", 5, 8), 0u);
    EXPECT_EQ(count_items(std::string(50, '1').c_str(), 5, 8), 8u);
    EXPECT_EQ(count_items("0800-1200-01;1300-1730-02", 13, 4), 2u);  // 25 = 13 + 12
    EXPECT_EQ(count_items(nullptr, 5, 8), 0u);
}

TEST(DecimalField, ReadsAsAtoiDoesWithinTheFieldOnly) {
    EXPECT_EQ(read_decimal_field("0830", 0, 2), 8);
    EXPECT_EQ(read_decimal_field("0830", 2, 2), 30);
    EXPECT_EQ(read_decimal_field(" 8", 0, 2), 8);
    EXPECT_EQ(read_decimal_field("-1", 0, 2), -1);
    EXPECT_EQ(read_byte_field("-1", 0, 2), 0xFF);
    EXPECT_EQ(read_decimal_field("8a", 0, 2), 8);
    EXPECT_EQ(read_decimal_field("ab", 0, 2), 0);
    EXPECT_EQ(read_decimal_field("12345678", 3, 5), 45678);
    EXPECT_EQ(read_decimal_field("1234", 3, 5), 4);  // the text ends inside the field
    EXPECT_EQ(read_decimal_field("12", 3, 5), 0);    // the field lies past the end
    EXPECT_EQ(read_byte_field("300", 0, 3), 44);     // 300 keeps its low 8 bits
}

}  // namespace
}  // namespace doorlink::commands
