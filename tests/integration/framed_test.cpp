// SysComInter against a simulated controller on loopback.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "doorlink/doorlink.h"
#include "doorsim/framed_state.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

using doorsim::Bytes;
using testing::elapsed_ms;

constexpr uint16_t kNode = 0x1234;
const uint8_t kStation[2] = {0x01, 0x02};

class Framed : public testing::SimulatedController {
protected:
    void SetUp() override {
        SimulatedController::SetUp();
        sim.update_state(id, [](doorsim::ControllerState& s) {
            s.framed.node = kNode;
            s.framed.station = {0x01, 0x02};
        });
        answer.assign(3 + 1024, 0xEE);
    }

    uint32_t call(const Bytes& block, const std::string& to) {
        return SysComInter(to.c_str(), kNode, 7, 9, kStation, block.data(), answer.data());
    }
    uint32_t call(const Bytes& block) { return call(block, address); }

    // The answer block's first n bytes.
    Bytes answer_head(size_t n) const { return Bytes(answer.begin(), answer.begin() + static_cast<long>(n)); }

    // Replies with the given frames, one per request, then with nothing.
    void script_replies(std::vector<Bytes> replies) {
        auto queue = std::make_shared<std::vector<Bytes>>(std::move(replies));
        auto next = std::make_shared<size_t>(0);
        sim.set_script(id, [queue, next](const doorsim::Datagram&, doorsim::ControllerState&) {
            if (*next >= queue->size()) return std::optional<std::vector<Bytes>>(std::vector<Bytes>{});
            return std::optional<std::vector<Bytes>>({(*queue)[(*next)++]});
        });
    }

    Bytes answer;
};

// A reply frame for node 0x1234, reserved 0, station 0x0102 and this payload.
Bytes reply_frame(const Bytes& payload) {
    const Bytes head = {0xD3,
                        0xD8,
                        static_cast<uint8_t>(payload.size() >> 8),
                        static_cast<uint8_t>(payload.size()),
                        0x00,
                        0x00,
                        0x12,
                        0x34,
                        0,
                        0,
                        0,
                        0,
                        0x01,
                        0x02,
                        0,
                        0,
                        0,
                        0x01};
    Bytes r(head.size() + payload.size() + 4, 0x00);
    std::copy(head.begin(), head.end(), r.begin());
    std::copy(payload.begin(), payload.end(), r.begin() + static_cast<long>(head.size()));
    return r;
}

TEST_F(Framed, EchoTravelsInACommandFrameAndComesBackInTheAnswerBlock) {
    ASSERT_EQ(call({doorsim::kFramedEcho, 0x00, 0x03, 'a', 'b', 'c'}), 1u);
    EXPECT_EQ(answer_head(7), (Bytes{0x01, 0x00, 0x03, 'a', 'b', 'c', 0xEE}));
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, (Bytes{0xA3, 0xA8, 0x00, 0x03, 0x00, 0x00, 0x12, 0x34, 0,
                                   0,    0,    0,    0x01, 0x02, 0,    0,    0,    doorsim::kFramedEcho,
                                   'a',  'b',  'c',  0,    0,    0,    0}));
    EXPECT_EQ(sim.state(id).framed.answered, 1);
}

TEST_F(Framed, TheTwentyFourByteExampleAndItsAnswer) {
    script_replies({reply_frame({0x10, 0x20, 0x30})});
    ASSERT_EQ(call({0x05, 0x00, 0x02, 0xAA, 0xBB}), 1u);
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, (Bytes{0xA3, 0xA8, 0x00, 0x02, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x00, 0x00,
                                   0x01, 0x02, 0x00, 0x00, 0x00, 0x05, 0xAA, 0xBB, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(answer_head(7), (Bytes{0x01, 0x00, 0x03, 0x10, 0x20, 0x30, 0xEE}));
}

TEST_F(Framed, AZeroLengthPayloadAsksForTheClock) {
    ASSERT_EQ(call({doorsim::kFramedClock, 0x00, 0x00}), 1u);
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 22u);
    EXPECT_EQ(got[0].bytes[17], doorsim::kFramedClock);
    EXPECT_EQ(Bytes(got[0].bytes.end() - 4, got[0].bytes.end()), Bytes(4, 0));
    EXPECT_EQ(answer_head(3), (Bytes{0x01, 0x00, 0x07}));
    EXPECT_EQ(answer[10], 0xEE);
    EXPECT_LE(answer[3 + 1], 0x12);  // month, two decimal digits
    EXPECT_LE(answer[3 + 6], 6);     // day of the week
}

// Each kind of wrong reply is refused and costs one repetition; the request
// is then sent again and the right reply taken.
TEST_F(Framed, WrongRepliesAreRefusedAndTheRequestSentAgain) {
    struct Wrong {
        const char* what;
        Bytes reply;
    };
    auto with = [](size_t at, uint8_t value) {
        Bytes r = reply_frame({0x42});
        r[at] = value;
        return r;
    };
    Bytes shortFrame = reply_frame({});
    shortFrame.resize(18);
    Bytes promisesMore = reply_frame({0x42, 0x43});
    promisesMore[3] = 0x07;  // seven payload bytes promised, two plus four zeros sent
    Bytes promisesFar = reply_frame({0x42});
    promisesFar[2] = 0xFF;
    promisesFar[3] = 0xFF;
    std::vector<Wrong> cases = {
        {"head", with(0, 0xA3)},         {"reserved number", with(5, 0x01)},
        {"node", with(7, 0x35)},         {"station", with(13, 0x03)},
        {"byte 17 = 0", with(17, 0x00)}, {"byte 17 = 5", with(17, 0x05)},
        {"18 bytes", shortFrame},        {"length beyond the datagram", promisesMore},
        {"length 65535", promisesFar},
    };
    for (const Wrong& w : cases) {
        sim.clear_received(id);
        std::fill(answer.begin(), answer.end(), 0xEE);
        script_replies({w.reply, reply_frame({0x42})});
        ASSERT_EQ(call({0x09, 0x00, 0x00}), 1u) << w.what;
        EXPECT_EQ(received().size(), 2u) << w.what;
        EXPECT_EQ(answer_head(5), (Bytes{0x01, 0x00, 0x01, 0x42, 0xEE})) << w.what;
    }
}

TEST_F(Framed, ALengthThatFillsTheDatagramExactlyIsTaken) {
    Bytes r = reply_frame({0x61, 0x62, 0x63});
    r.resize(18 + 3);  // without the four trailing zeros
    script_replies({r});
    ASSERT_EQ(call({0x09, 0x00, 0x00}), 1u);
    EXPECT_EQ(answer_head(7), (Bytes{0x01, 0x00, 0x03, 0x61, 0x62, 0x63, 0xEE}));
}

TEST_F(Framed, TenRefusedRepliesGiveZeroAfterTenSends) {
    Bytes wrongStation = reply_frame({0x42});
    wrongStation[12] = 0x09;
    script_replies(std::vector<Bytes>(12, wrongStation));
    long ms = elapsed_ms([&] { EXPECT_EQ(call({0x09, 0x00, 0x00}), 0u); });
    EXPECT_LT(ms, 1500);
    EXPECT_EQ(received().size(), 10u);
    EXPECT_EQ(answer_head(3), Bytes(3, 0xEE));
}

TEST_F(Framed, RepliesFromAnotherAddressAreNeverTaken) {
    std::string other = doorsim::find_free_loopback_address();
    ASSERT_FALSE(other.empty());
    doorsim::Faults f;
    f.replyFrom = other;
    sim.set_faults(id, f);
    EXPECT_EQ(call({doorsim::kFramedEcho, 0x00, 0x01, 0x55}), 0u);
    auto got = received();
    ASSERT_EQ(got.size(), 10u);
    for (const auto& d : got) EXPECT_EQ(d.to, address);  // every send goes to the controller
    EXPECT_EQ(answer_head(3), Bytes(3, 0xEE));
}

TEST_F(Framed, AnAddressWrittenOtherwiseNeverMatchesTheSender) {
    // The same controller (127 written in hexadecimal), but the address text
    // differs from the sender's dotted text.
    ASSERT_EQ(address.rfind("127.", 0), 0u);
    std::string other = "0x7f" + address.substr(3);
    EXPECT_EQ(call({doorsim::kFramedEcho, 0x00, 0x01, 0x55}, other), 0u);
    EXPECT_EQ(received().size(), 10u);
}

TEST_F(Framed, SilenceEndsTheCallAfterOneReadinessWait) {
    doorsim::Faults f;
    f.silent = true;
    sim.set_faults(id, f);
    long ms = elapsed_ms([&] { EXPECT_EQ(call({doorsim::kFramedEcho, 0x00, 0x00}), 0u); });
    EXPECT_GE(ms, 1900);
    EXPECT_LT(ms, 5000);
    EXPECT_EQ(received().size(), 1u);
    EXPECT_EQ(answer_head(3), Bytes(3, 0xEE));
}

TEST_F(Framed, TheLibraryPortRangeBindsTheChannel) {
    uint16_t port = static_cast<uint16_t>(40000 + ::getpid() % 20000);
    ASSERT_EQ(SetPortRange(port, port + 5), 1u);
    ASSERT_EQ(call({doorsim::kFramedEcho, 0x00, 0x00}), 1u);
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_GE(got[0].fromPort, port);
    EXPECT_LE(got[0].fromPort, port + 5);
}

TEST_F(Framed, MissingArgumentsGiveZeroAndSendNothing) {
    const Bytes block = {doorsim::kFramedEcho, 0x00, 0x00};
    EXPECT_EQ(SysComInter(nullptr, kNode, 0, 0, kStation, block.data(), answer.data()), 0u);
    EXPECT_EQ(SysComInter(address.c_str(), kNode, 0, 0, nullptr, block.data(), answer.data()), 0u);
    EXPECT_EQ(SysComInter(address.c_str(), kNode, 0, 0, kStation, nullptr, answer.data()), 0u);
    EXPECT_EQ(SysComInter(address.c_str(), kNode, 0, 0, kStation, block.data(), nullptr), 0u);
    EXPECT_FALSE(sim.wait_received(id, 1, std::chrono::milliseconds(100)));
}

}  // namespace
}  // namespace doorlink
