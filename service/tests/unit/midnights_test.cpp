// The sites' local midnights, against instants worked out by hand from the
// zones' rules: Berlin goes forward at 01:00 UTC on 2026-03-29, making its
// day 23 hours long; Kathmandu is 5:45 ahead of UTC; Apia skipped
// 2011-12-30, going from 10 hours behind UTC to 14 ahead.
#include <gtest/gtest.h>

#include "serve/midnights.h"
#include "utc_text.h"

namespace doorlinkd {
namespace {

struct Midnight {
    const char* zone;
    const char* afterUtc;
    const char* midnightUtc;
};

constexpr Midnight kMidnights[] = {
    // Saturday noon, then the change of offset on Sunday: the next midnight
    // comes 23 hours after the one before.
    {"Europe/Berlin", "20260328120000", "20260328230000"},
    {"Europe/Berlin", "20260328230000", "20260329220000"},
    // 23:45 local; an instant exactly at a midnight gives the next one.
    {"Asia/Kathmandu", "20261224180000", "20261224181500"},
    {"Asia/Kathmandu", "20261224181500", "20261225181500"},
    // Noon of 2011-12-29 local: the next date was the 31st.
    {"Pacific/Apia", "20111229220000", "20111230100000"},
};

TEST(Midnights, NextLocalMidnightIsWhereTheZonesDateChanges) {
    for (const Midnight& m : kMidnights) {
        EXPECT_EQ(next_local_midnight(m.zone, utc_ms(m.afterUtc)), utc_ms(m.midnightUtc))
            << m.zone << " after " << m.afterUtc;
    }
    // A millisecond before a midnight gives that midnight.
    EXPECT_EQ(next_local_midnight("Asia/Kathmandu", utc_ms("20261224181500") - 1), utc_ms("20261224181500"));
}

}  // namespace
}  // namespace doorlinkd
