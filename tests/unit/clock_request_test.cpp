#include <gtest/gtest.h>

#include "commands/clock.h"
#include "support/fake_transport.h"

namespace doorlink {
namespace {

platform::LocalTime at(uint16_t year, uint16_t month, uint16_t day, uint16_t weekDay, uint16_t hour,
                       uint16_t minute, uint16_t second) {
    platform::LocalTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.dayOfWeek = weekDay;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return t;
}

using testing::kMac;

TEST(SetTimeRequest, CarriesTheClockBlockTwiceAndAFinalZero) {
    // Tuesday, 5 March 2024, 14:07:09.
    auto r = commands::build_set_time_request(at(2024, 3, 5, 2, 14, 7, 9), kMac);
    const std::array<uint8_t, 32> expected = {
        0x43, 0x34, 0x44, 0x54, 0x99, 0x02, 0x18, 0x03, 0x05, 0x0E, 0x07, 0x09, 0x00, 0xA0, 0xC9, 0x12,
        0x34, 0x56, 0x02, 0x18, 0x03, 0x05, 0x0E, 0x07, 0x09, 0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56, 0x00};
    EXPECT_EQ(r, expected);
}

TEST(SetTimeRequest, YearIsSentModuloOneHundred) {
    EXPECT_EQ(commands::build_set_time_request(at(2000, 1, 1, 6, 0, 0, 0), kMac)[6], 0x00);
    EXPECT_EQ(commands::build_set_time_request(at(2099, 12, 31, 4, 23, 59, 59), kMac)[6], 0x63);
}

}  // namespace
}  // namespace doorlink
