// DoorSetTime, DoorSetTimeTo and DoorShowTime against a simulated controller
// on loopback.
#include <gtest/gtest.h>

#include <ctime>

#include "doorlink/doorlink.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

using doorsim::Bytes;
using testing::elapsed_ms;

using testing::kAck;

class Clock : public testing::SimulatedController {};

TEST_F(Clock, SetTimeSendsTheLocalClockTwiceAndIsAcknowledged) {
    time_t before = std::time(nullptr);
    ASSERT_EQ(DoorSetTime(address.c_str(), mac.c_str()), 1u);
    time_t after = std::time(nullptr);
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    const Bytes& r = got[0].bytes;
    ASSERT_EQ(r.size(), 32u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{0x43, 0x34, 0x44, 0x54, 0x99}));
    EXPECT_EQ(Bytes(r.begin() + 5, r.begin() + 18), Bytes(r.begin() + 18, r.begin() + 31));
    EXPECT_EQ(r[31], 0x00);
    auto m = sim.mac(id);
    EXPECT_EQ(Bytes(r.begin() + 12, r.begin() + 18), Bytes(m.begin(), m.end()));
    // The block is the local time of the call.
    bool matches = false;
    for (time_t t = before; t <= after; ++t) {
        tm local{};
        localtime_r(&t, &local);
        Bytes block = {static_cast<uint8_t>(local.tm_wday),    static_cast<uint8_t>(local.tm_year % 100),
                       static_cast<uint8_t>(local.tm_mon + 1), static_cast<uint8_t>(local.tm_mday),
                       static_cast<uint8_t>(local.tm_hour),    static_cast<uint8_t>(local.tm_min),
                       static_cast<uint8_t>(local.tm_sec)};
        matches = matches || Bytes(r.begin() + 5, r.begin() + 12) == block;
    }
    EXPECT_TRUE(matches) << doorsim::hex(r);
    EXPECT_EQ(sim.state(id).clockSets, 1);
}

TEST_F(Clock, ShowTimeReadsBackWhatWasSet) {
    sim.update_state(id, [](doorsim::ControllerState& s) { s.clockOffsetSeconds = -86400 * 400; });
    ASSERT_EQ(DoorSetTime(address.c_str(), mac.c_str()), 1u);
    char text[18] = {};
    uint32_t weekDay = 99;
    ASSERT_EQ(DoorShowTime(address.c_str(), text, &weekDay, mac.c_str()), 1u);
    time_t now = std::time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char expectedDate[32];
    std::snprintf(expectedDate, sizeof expectedDate, "%02d-%02d-%02d", local.tm_year % 100, local.tm_mon + 1,
                  local.tm_mday);
    EXPECT_EQ(std::string(text, 8), expectedDate);  // the date, unless midnight passed
    EXPECT_EQ(text[8], ' ');
    EXPECT_EQ(weekDay, static_cast<uint32_t>(local.tm_wday));
    auto got = received();
    ASSERT_EQ(got.size(), 2u);
    auto m = sim.mac(id);
    Bytes expected = {0x83, 0x38, 0x48, 0x58, 0x33, 0x00};
    expected.insert(expected.end(), m.begin(), m.end());
    EXPECT_EQ(got[1].bytes, expected);
}

TEST_F(Clock, SetTimeToSetsTheGivenTimeWithTheDayOfTheWeekOfItsDate) {
    ASSERT_EQ(DoorSetTimeTo(address.c_str(), mac.c_str(), "20301231235950"), 1u);
    char text[18] = {};
    uint32_t weekDay = 99;
    ASSERT_EQ(DoorShowTime(address.c_str(), text, &weekDay, mac.c_str()), 1u);
    EXPECT_EQ(std::string(text, 16), "30-12-31 23:59:5") << text;  // seconds later than set
    EXPECT_EQ(weekDay, 2u);                                        // a Tuesday
    auto got = received();
    ASSERT_EQ(got.size(), 2u);
    const Bytes& r = got[0].bytes;
    ASSERT_EQ(r.size(), 32u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 12),
              (Bytes{0x43, 0x34, 0x44, 0x54, 0x99, 2, 30, 12, 31, 23, 59, 50}));
    EXPECT_EQ(Bytes(r.begin() + 5, r.begin() + 18), Bytes(r.begin() + 18, r.begin() + 31));
    EXPECT_EQ(r[31], 0x00);
    EXPECT_EQ(sim.state(id).clockSets, 1);
}

TEST_F(Clock, ShowTimeFormatsTheReplyBytesAsTheyAre) {
    sim.set_script(id, [](const doorsim::Datagram&, doorsim::ControllerState&) {
        return std::optional<std::vector<Bytes>>(
            {{0x83, 0x38, 0x48, 0x58, 0x33, 0x00, 0x24, 0x03, 0x05, 0x14, 0x3C, 0x09, 0x02}});
    });
    char text[18];
    uint32_t weekDay = 0;
    ASSERT_EQ(DoorShowTime(address.c_str(), text, &weekDay, mac.c_str()), 1u);
    EXPECT_STREQ(text, "24-03-05 14:3c:09");
    EXPECT_EQ(weekDay, 2u);
}

TEST_F(Clock, ShowTimeResendsAfterAReplyThatIsNotTheEcho) {
    int calls = 0;
    sim.set_script(id, [&calls](const doorsim::Datagram& d, doorsim::ControllerState&) {
        if (calls++ == 0) return std::optional<std::vector<Bytes>>({kAck});
        Bytes reply(d.bytes.begin(), d.bytes.begin() + 6);
        reply.insert(reply.end(), {0x24, 0x03, 0x05, 0x14, 0x07, 0x09, 0x02});
        return std::optional<std::vector<Bytes>>({reply});
    });
    char text[18];
    uint32_t weekDay = 0;
    ASSERT_EQ(DoorShowTime(address.c_str(), text, &weekDay, mac.c_str()), 1u);
    EXPECT_STREQ(text, "24-03-05 14:07:09");
    auto got = received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].bytes, got[1].bytes);
}

TEST_F(Clock, SetTimeResendsOnAWrongReplyThenSucceeds) {
    doorsim::Faults f;
    f.wrongRepliesFirst = 1;
    sim.set_faults(id, f);
    EXPECT_EQ(DoorSetTime(address.c_str(), mac.c_str()), 1u);
    auto got = received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].bytes, got[1].bytes);
}

TEST_F(Clock, InvalidArgumentsSendNothing) {
    char text[18] = "untouched";
    uint32_t weekDay = 7;
    long ms = elapsed_ms([&] {
        EXPECT_EQ(DoorSetTime(address.c_str(), "00-A0-C9-00-00-01"), 0u);
        EXPECT_EQ(DoorSetTime(address.c_str(), "00A0C9FFEE0G"), 0u);
        EXPECT_EQ(DoorSetTime(address.c_str(), nullptr), 0u);
        EXPECT_EQ(DoorSetTime(nullptr, mac.c_str()), 0u);
        EXPECT_EQ(DoorSetTimeTo(nullptr, mac.c_str(), "20301231235958"), 0u);
        EXPECT_EQ(DoorSetTimeTo(address.c_str(), nullptr, "20301231235958"), 0u);
        EXPECT_EQ(DoorSetTimeTo(address.c_str(), "00-A0-C9-00-00-01", "20301231235958"), 0u);
        EXPECT_EQ(DoorSetTimeTo(address.c_str(), mac.c_str(), nullptr), 0u);
        for (const char* time :
             {"2030123123595", "2030-12-31 235", "20300229120000", "20301231240000", "19991231235959"})
            EXPECT_EQ(DoorSetTimeTo(address.c_str(), mac.c_str(), time), 0u) << time;
        EXPECT_EQ(DoorShowTime(address.c_str(), text, &weekDay, "00a0c9"), 0u);
        EXPECT_EQ(DoorShowTime(address.c_str(), nullptr, &weekDay, mac.c_str()), 0u);
        EXPECT_EQ(DoorShowTime(address.c_str(), text, nullptr, mac.c_str()), 0u);
    });
    EXPECT_LT(ms, 500);
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(weekDay, 7u);
    sim.wait_received(id, 1, std::chrono::milliseconds(100));
    EXPECT_EQ(sim.received_count(id), 0u);
}

TEST_F(Clock, SilentControllerFailsAfterAboutTwoSecondsWithOutputsUntouched) {
    doorsim::Faults f;
    f.silent = true;
    sim.set_faults(id, f);
    char text[18] = "untouched";
    uint32_t weekDay = 7;
    long ms = elapsed_ms([&] { EXPECT_EQ(DoorShowTime(address.c_str(), text, &weekDay, mac.c_str()), 0u); });
    EXPECT_GE(ms, 1900);
    EXPECT_LT(ms, 4000);
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(sim.received_count(id), 1u);
}

TEST_F(Clock, AControllerWithAnotherMacStaysSilent) {
    EXPECT_EQ(DoorSetTime(address.c_str(), "112233445566"), 0u);
    EXPECT_EQ(sim.received_count(id), 1u);
}

TEST_F(Clock, AReplyFromAnotherAddressIsTakenAndTheResendGoesThere) {
    std::string other = doorsim::find_free_loopback_address();
    ASSERT_FALSE(other.empty());
    doorsim::Faults f;
    f.replyFrom = other;
    f.wrongRepliesFirst = 1;
    sim.set_faults(id, f);
    ASSERT_EQ(DoorSetTime(address.c_str(), mac.c_str()), 1u);
    auto got = received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].to, address);
    EXPECT_EQ(got[1].to, other);
    EXPECT_EQ(got[0].bytes, got[1].bytes);
}

TEST_F(Clock, AFloodOfWrongRepliesEndsWithZero) {
    sim.set_script(id, [](const doorsim::Datagram&, doorsim::ControllerState&) {
        return std::optional<std::vector<Bytes>>({Bytes(10, 0x00)});
    });
    EXPECT_EQ(DoorSetTime(address.c_str(), mac.c_str()), 0u);
    EXPECT_EQ(sim.received_count(id), 100u);
}

}  // namespace
}  // namespace doorlink
