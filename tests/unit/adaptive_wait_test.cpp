// The adaptive wait: its timeout arithmetic, its table of settings and round
// trips, and the command exchange under it, through a scripted transport
// whose clock moves only as the exchange waits.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/adaptive_wait.h"
#include "core/exchange.h"
#include "core/resend_schedule.h"
#include "support/adaptive_wait.h"
#include "support/fake_transport.h"

namespace doorlink {
namespace {

using core::AdaptiveWaits;
using core::RetransmissionTimeout;
using testing::acknowledgement;
using testing::AdaptiveWaitOn;
using testing::FakeTransport;
using Bytes = std::vector<uint8_t>;

TEST(RetransmissionTimeout, SmoothedRoundTripPlusFourVariationsDoubledOnEachTimeout) {
    RetransmissionTimeout t;
    EXPECT_EQ(t.timeout_ms(20), core::kInitialResendTimeoutMs);
    t.measured(10);  // SRTT 10, RTTVAR 5
    EXPECT_EQ(t.timeout_ms(20), 30);
    EXPECT_EQ(t.timeout_ms(50), 50);  // never below the host's bound
    t.timed_out();
    EXPECT_EQ(t.timeout_ms(20), 60);
    t.timed_out();
    EXPECT_EQ(t.timeout_ms(20), 120);
    t.measured(10);  // SRTT 10, RTTVAR 3.75: backed off no more
    EXPECT_EQ(t.timeout_ms(20), 25);
    for (int i = 0; i < 40; ++i) t.timed_out();
    EXPECT_EQ(t.timeout_ms(20), core::kMaxResendTimeoutMs);
    t.measured(60000);
    EXPECT_EQ(t.timeout_ms(1), core::kMaxResendTimeoutMs);
}

uint32_t address_key(const char* address) { return platform::ipv4_from_text(address); }

TEST(AdaptiveWaits, SettingsForOneControllerOrAllAndTheirRefusals) {
    AdaptiveWaits w;
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.3")), 0);
    EXPECT_TRUE(w.set("10.1.2.3", 20));
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.3")), 20);
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.4")), 0);
    EXPECT_TRUE(w.set(nullptr, 5));  // every controller, the single one's setting dropped
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.3")), 5);
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.4")), 5);
    EXPECT_TRUE(w.set("10.1.2.4", 0));  // off for this one alone
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.4")), 0);
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.3")), 5);
    EXPECT_TRUE(w.set("10.1.2.3", 2000));
    for (const char* bad : {"", "10.1.2", "10.1.2.3.4", "10.1.2.256", "10.1.2.-3", "10..2.3", "10.1.2.3 ",
                            "0x0A.1.2.3", "10.1.2.0003", "a.b.c.d", "host"}) {
        EXPECT_FALSE(w.set(bad, 20)) << bad;
    }
    EXPECT_FALSE(w.set("10.1.2.3", -1));
    EXPECT_FALSE(w.set("10.1.2.3", 2001));
    EXPECT_FALSE(w.set(nullptr, 2001));
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.3")), 2000);  // refusals change nothing
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.5")), 5);
    EXPECT_TRUE(w.set(nullptr, 0));
    EXPECT_EQ(w.minimum_ms(address_key("10.1.2.3")), 0);
}

TEST(AdaptiveWaits, TheControllerUsedLongestAgoMakesRoomForANewOne) {
    AdaptiveWaits w;
    w.measured(1, 10);
    w.measured(2, 10);
    for (uint32_t c = 3; c <= core::kMaxEstimatedControllers; ++c) w.measured(c, 100);
    EXPECT_EQ(w.timeout_ms(2, 1), 30);  // the table is full, controller 1 the oldest
    w.measured(5000, 100);
    EXPECT_EQ(w.timeout_ms(1, 1), core::kInitialResendTimeoutMs);  // forgotten
    EXPECT_EQ(w.timeout_ms(2, 1), 30);
}

TEST(AdaptiveWaits, ThreadsSetMeasureAndTimeOutAtOnce) {
    AdaptiveWaits w;
    std::vector<std::thread> threads;
    for (uint32_t i = 0; i < 8; ++i) {
        threads.emplace_back([&w, i] {
            const std::string address = "10.0.0." + std::to_string(i);
            for (uint32_t n = 0; n < 2000; ++n) {
                w.set(n % 2 ? address.c_str() : nullptr, static_cast<int32_t>(n % 50));
                w.measured(address_key(address.c_str()) + n % 3, n % 40);
                w.timed_out(i);
                EXPECT_LE(w.timeout_ms(i, w.minimum_ms(i)), core::kMaxResendTimeoutMs);
            }
        });
    }
    for (auto& t : threads) t.join();
}

const Bytes kQuery = {0x83, 0x38, 0x48, 0x58, 0x33, 0x00, 1, 2, 3, 4, 5, 6};

core::ExchangeProfile query_profile(core::Repeatable repeatable = core::Repeatable::ClockQuery) {
    core::ExchangeProfile p;
    p.repeatable = repeatable;
    return p;
}

uint32_t exchange(FakeTransport& t, const char* address, const core::ExchangeProfile& p) {
    return core::RunExchange(t, address, kQuery.data(), static_cast<int>(kQuery.size()), p).result;
}

// One exchange answered after 10 ms: the round trip that gives a timeout of
// 30 ms with a lower bound of 20.
void measure_ten_ms(FakeTransport& t, const char* address) {
    t.answer_at(t.clock + 10, acknowledgement());
    ASSERT_EQ(exchange(t, address, query_profile()), 1u);
}

// The times of the sends from index from, relative to the first of them.
std::vector<uint32_t> send_times(const FakeTransport& t, size_t from = 0) {
    std::vector<uint32_t> out;
    for (size_t i = from; i < t.sent.size(); ++i) out.push_back(t.sent[i].at - t.sent[from].at);
    return out;
}

TEST(AdaptiveExchange, ALostRequestGoesAgainAfterTheTimeoutWhichBacksOff) {
    const char* address = "127.0.0.21";
    AdaptiveWaitOn on(address, 20);
    FakeTransport t;
    measure_ten_ms(t, address);

    t.answer_at(t.clock + 100, acknowledgement());
    EXPECT_EQ(exchange(t, address, query_profile()), 1u);
    EXPECT_EQ(send_times(t, 1), (std::vector<uint32_t>{0, 30, 90}));  // after 30, then 60
    for (size_t i = 1; i < t.sent.size(); ++i) EXPECT_EQ(t.sent[i].bytes, kQuery);
}

TEST(AdaptiveExchange, BeforeAnyRoundTripTheTimeoutIsAQuarterSecondAndResentRequestsMeasureNothing) {
    const char* address = "127.0.0.22";
    AdaptiveWaitOn on(address, 20);
    FakeTransport t;
    t.answer_at(1500, acknowledgement());
    ASSERT_EQ(exchange(t, address, query_profile()), 1u);
    EXPECT_EQ(send_times(t), (std::vector<uint32_t>{0, 250, 750}));
    // No round trip was taken from it: the timeout stays backed off, at 1 s.
    t.answer_at(t.clock + 1500, acknowledgement());
    ASSERT_EQ(exchange(t, address, query_profile()), 1u);
    EXPECT_EQ(send_times(t, 3), (std::vector<uint32_t>{0, 1000}));
}

TEST(AdaptiveExchange, AnUnsafeRequestKeepsTheFixedWait) {
    const char* address = "127.0.0.23";
    AdaptiveWaitOn on(address, 20);
    FakeTransport t;
    t.answer_at(1500, acknowledgement());
    EXPECT_EQ(exchange(t, address, query_profile(core::Repeatable::No)), 1u);
    EXPECT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.waits, (std::vector<int>{core::kReadinessWaitMs}));
    FakeTransport silent;
    EXPECT_EQ(exchange(silent, address, query_profile(core::Repeatable::No)), 0u);
    EXPECT_EQ(silent.sent.size(), 1u);
    EXPECT_EQ(silent.clock, 2000u);
}

TEST(AdaptiveExchange, SwitchedOffEveryWaitIsTheFixedOne) {
    const char* address = "127.0.0.24";
    AdaptiveWaitOn on(address, 20);
    FakeTransport t;
    measure_ten_ms(t, address);
    ASSERT_TRUE(core::LibraryState::get().adaptive_waits().set(address, 0));
    t.waits.clear();
    t.answer_at(t.clock + 1500, acknowledgement());
    t.answer(Bytes{1, 2, 3});
    t.answer_at(t.clock + 3000, acknowledgement());
    EXPECT_EQ(exchange(t, address, query_profile()), 1u);
    EXPECT_EQ(exchange(t, address, query_profile()), 1u);  // a wrong reply, then 1.5 s to the right one
    EXPECT_EQ(send_times(t, 1), (std::vector<uint32_t>{0, 1500, 1500}));
    EXPECT_EQ(t.waits, (std::vector<int>(3, core::kReadinessWaitMs)));
}

TEST(AdaptiveExchange, ACallFailsOnlyAfterTwoSecondsInWhichNothingCame) {
    const char* address = "127.0.0.25";
    AdaptiveWaitOn on(address, 20);
    FakeTransport t;
    measure_ten_ms(t, address);
    const uint32_t start = t.clock;
    t.answer_at(start + 1900, Bytes{1, 2, 3});  // a wrong reply starts the silence again
    EXPECT_EQ(exchange(t, address, query_profile()), 0u);
    EXPECT_EQ(t.clock - start, 3900u);
    // Early resends 30, 60, 120, ... apart until the wrong reply, each backing
    // off, then the resend it asks for, and early ones up to 2 s after it.
    const std::vector<uint32_t> times = send_times(t, 1);
    EXPECT_EQ(std::vector<uint32_t>(times.begin(), times.begin() + 7),
              (std::vector<uint32_t>{0, 30, 90, 210, 450, 930, 1890}));
    EXPECT_EQ(times[7], 1900u);
    EXPECT_LE(times.back(), 3900u);
    EXPECT_LE(times.size(), 10u);
}

TEST(AdaptiveExchange, APeerAnsweringWronglyForeverIsGivenUpAfterAHundredReplies) {
    const char* address = "127.0.0.26";
    AdaptiveWaitOn on(address, 1);
    FakeTransport t;
    t.answer_at(1, acknowledgement());
    ASSERT_EQ(exchange(t, address, query_profile()), 1u);
    const size_t before = t.sent.size();
    for (uint32_t i = 1; i <= 1000; ++i) t.answer_at(t.clock + 300 * i, Bytes{1, 2, 3});
    EXPECT_EQ(exchange(t, address, query_profile()), 0u);
    EXPECT_EQ(t.incoming.size(), 1000u - core::kMaxRejectedReplies);
    EXPECT_LE(t.sent.size() - before, 2u * core::kMaxRejectedReplies);
}

TEST(AdaptiveExchange, ARequestGoesEarlyAFixedNumberOfTimesWhateverOtherCallsMeasure) {
    const char* address = "127.0.0.27";
    AdaptiveWaitOn on(address, 1);
    FakeTransport t;
    core::AdaptiveWaits& waits = core::LibraryState::get().adaptive_waits();
    const uint32_t controller = core::MakeControllerAddress(address).address;
    core::ResendSchedule schedule(t, controller, core::Repeatable::ClockQuery);
    schedule.sent();
    int early = 0;
    for (; schedule.on() && early < 1000; ++early) {
        waits.measured(controller, 1);  // another call's clean round trip takes the backoff back
        schedule.resent_early();
    }
    EXPECT_EQ(early, core::kMaxEarlyResends);
}

}  // namespace
}  // namespace doorlink
