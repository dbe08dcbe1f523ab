// The round trips a transfer measures for the grace after a stale reply.
#include <gtest/gtest.h>

#include "core/controller_link.h"

namespace doorlink::core {
namespace {

TEST(RoundTrips, OnlyAReplyToASendIsMeasuredAcrossAnyTickCount) {
    RoundTrips r;
    // A due reply with no send before it, 3.5 days after the host started:
    // the first block of a pushed photo measures nothing.
    r.answered(0x80000010u);
    EXPECT_EQ(r.grace_ms(), kDefaultGraceMs);
    // 40 ms across the wrap of the tick count after 49.7 days.
    r.sent(0xFFFFFFF0u);
    r.answered(0x00000018u);
    EXPECT_EQ(r.grace_ms(), kGraceRoundTrips * 40);
    // A later reply without a send of its own (a block that follows unasked).
    r.answered(0x00100000u);
    EXPECT_EQ(r.grace_ms(), kGraceRoundTrips * 40);
    // A round trip of 2^31 ms is sane to compute and keeps the grace bounded.
    r.sent(0);
    r.answered(0x80000000u);
    EXPECT_EQ(r.grace_ms(), kMaxGraceMs);
}

}  // namespace
}  // namespace doorlink::core
