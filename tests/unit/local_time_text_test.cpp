#include <gtest/gtest.h>

#include "commands/local_time_text.h"

namespace doorlink {
namespace {

using commands::day_of_week;
using commands::parse_local_time_text;

TEST(LocalTimeText, ReadsEveryFieldAndTheDayOfTheWeekOfTheDate) {
    platform::LocalTime t;
    ASSERT_TRUE(parse_local_time_text("20301231235958", t));
    EXPECT_EQ(t.year, 2030);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 31);
    EXPECT_EQ(t.dayOfWeek, 2);  // a Tuesday
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    EXPECT_EQ(t.second, 58);
    ASSERT_TRUE(parse_local_time_text("20000229000000", t));  // 2000 is a leap year
    EXPECT_EQ(t.dayOfWeek, 2);
    ASSERT_TRUE(parse_local_time_text("20990101120000", t));
    EXPECT_EQ(t.dayOfWeek, 4);
}

TEST(LocalTimeText, TheDayOfTheWeekFollowsTheCalendarAcrossMonthsAndLeapYears) {
    // Day after day from 2000-01-01, a Saturday, to 2099-12-31.
    uint16_t expected = 6;
    for (int32_t year = 2000; year <= 2099; ++year) {
        for (uint32_t month = 1; month <= 12; ++month) {
            const uint32_t days = month == 2
                                      ? (year % 4 == 0 ? 29 : 28)
                                      : (month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31);
            for (uint32_t day = 1; day <= days; ++day) {
                ASSERT_EQ(day_of_week(year, month, day), expected) << year << "-" << month << "-" << day;
                expected = static_cast<uint16_t>((expected + 1) % 7);
            }
        }
    }
    EXPECT_EQ(day_of_week(1970, 1, 1), 4);
    EXPECT_EQ(day_of_week(1900, 3, 1), 4);  // 1900 had no 29 February
}

TEST(LocalTimeText, RefusesWhatIsNotARealTimeOfTheClocksYears) {
    const char* const refused[] = {
        nullptr,          "",
        "2030123123595",  "203012312359580",
        "2030123123595x", " 2030123123595",
        "+2030123123595", "20301301000000",
        "20300001000000", "20300100000000",
        "20300431000000", "20300229000000",
        "21000228000000", "19991231235959",
        "20301231240000", "20301231236000",
        "20301231235960",
    };
    for (const char* text : refused) {
        platform::LocalTime t;
        t.year = 7;
        EXPECT_FALSE(parse_local_time_text(text, t)) << (text ? text : "null");
        EXPECT_EQ(t.year, 7);
    }
    platform::LocalTime t;
    EXPECT_TRUE(parse_local_time_text("20280229235959", t));
    EXPECT_TRUE(parse_local_time_text("20000101000000", t));
    EXPECT_TRUE(parse_local_time_text("20991231235959", t));
}

}  // namespace
}  // namespace doorlink
