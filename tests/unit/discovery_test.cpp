// Discovery through a scripted transport: requests, accepted and ignored
// replies, the end after the sixth failed receive, the result value and the
// trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "devices/discovery.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "support/fake_transport.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using Bytes = std::vector<uint8_t>;

// Fails the receives whose numbers (1, 2, ...) are listed, and every receive
// once the queue is empty.
class ScriptedTransport : public testing::FakeTransport {
public:
    std::set<int> failing;
    int receive(core::SocketHandle s, uint8_t* buffer, int capacity, core::Endpoint& from) override {
        if (failing.count(receives + 1)) {
            ++receives;
            return -1;
        }
        return FakeTransport::receive(s, buffer, capacity, from);
    }
};

Bytes reply(uint8_t device, std::array<uint8_t, 4> address, uint8_t image = 1, uint8_t time = 9) {
    const uint8_t head[20] = {0x48,       0x84,       0x94,       0x04,  0x44, device, address[0],
                              address[1], address[2], address[3], image, time, 255,    255,
                              255,        0,          10,         1,     2,    254};
    Bytes r(36, 0xAB);
    std::copy(head, head + 20, r.begin());
    return r;
}

class Discovery : public ::testing::Test {
protected:
    std::string value(const char* section, const std::string& key) {
        char text[64];
        platform::profile_read_string(section, key.c_str(), nullptr, text, sizeof text, path.c_str());
        return text;
    }
    int32_t run(core::Transport& t, bool broadcast, const devices::DiscoveryLimits& limits = {}) {
        auto setup = [&](core::SocketHandle s) { setupSocket = s; };
        auto trace = [&](const char* text) { traced += text; };
        return devices::RunDiscovery(t, "10.1.2.3", broadcast, path, setup, trace, limits);
    }

    testing::TempDir dir;
    std::string path = dir.file("eqminfo.ini");
    core::SocketHandle setupSocket = 0;
    std::string traced;
};

TEST_F(Discovery, UnicastSendsFiveRequestsAndEndsAtTheSixthFailedReceive) {
    ScriptedTransport t;
    EXPECT_EQ(run(t, false), 0);
    ASSERT_EQ(t.sent.size(), 5u);
    for (const auto& s : t.sent) {
        EXPECT_EQ(s.bytes, (Bytes{0x48, 0x84, 0x94, 0x04, 0x44, 0x00}));
        EXPECT_EQ(s.to.address, platform::ipv4_from_text("10.1.2.3"));
        EXPECT_EQ(s.to.port, platform::port_to_network(9000));
    }
    EXPECT_EQ(t.receives, 6);
    EXPECT_EQ(t.closes, 1);
    EXPECT_EQ(setupSocket, 0u);  // no broadcast options
    EXPECT_EQ(traced, "");       // nothing traced without the broadcast flag
    EXPECT_EQ(value("EqmTotal", "EqmTotal"), "");
}

TEST_F(Discovery, BroadcastSendsOnceWithItsOptionsAndTracesEveryReceive) {
    ScriptedTransport t;
    Bytes r = reply(3, {10, 1, 2, 40});
    t.answer(r, {platform::ipv4_from_text("10.1.2.40"), platform::port_to_network(9000)});
    EXPECT_EQ(run(t, true), 0);
    ASSERT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.sent[0].to.address, 0xFFFFFFFFu);
    EXPECT_EQ(t.sent[0].to.port, platform::port_to_network(9000));
    EXPECT_EQ(setupSocket, 42u);
    EXPECT_EQ(t.receives, 7);

    std::string expected = "\nnRet=36, From:10.1.2.40\n";
    for (uint8_t b : r) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", b);
        expected += hex;
    }
    expected += "\n";
    // A failed receive traces the last sender and one line end.
    for (int i = 0; i < 6; ++i) expected += "\nnRet=-1, From:10.1.2.40\n";
    EXPECT_EQ(traced, expected);
}

TEST_F(Discovery, FailedReceiveBeforeAnyReplyTracesTheBroadcastAddress) {
    ScriptedTransport t;
    EXPECT_EQ(run(t, true), 0);
    std::string expected;
    for (int i = 0; i < 6; ++i) expected += "\nnRet=-1, From:255.255.255.255\n";
    EXPECT_EQ(traced, expected);
}

TEST_F(Discovery, TraceBreaksLinesEveryFiftyBytes) {
    ScriptedTransport t;
    t.answer(Bytes(101, 0x11));
    run(t, true);
    const std::string first = traced.substr(0, traced.find("\nnRet=-1"));
    // Line ends before bytes 0, 50 and 100, and one after the bytes.
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 5);
    EXPECT_NE(first.find("\n11 11"), std::string::npos);
}

TEST_F(Discovery, TwoNewControllersIntoAnEmptyRegistryReturnOne) {
    ScriptedTransport t;
    t.answer(reply(1, {10, 0, 0, 2}, 2, 30));
    t.answer(reply(2, {10, 0, 0, 3}, 0, 60));
    EXPECT_EQ(run(t, true), 1);
    EXPECT_EQ(value("EqmTotal", "EqmTotal"), "2");
    EXPECT_EQ(value("EqmIP", "EqmIP1"), "10.0.0.2");
    EXPECT_EQ(value("EqmNO", "EqmNo1"), "1");
    EXPECT_EQ(value("EqmNet", "EqmNet1"), "255.255.255.0");
    EXPECT_EQ(value("EqmGate", "EqmGate1"), "10.1.2.254");
    EXPECT_EQ(value("EqmTime", "EqmTime1"), "30");
    EXPECT_EQ(value("EqmImg", "EqmImg1"), "2");
    EXPECT_EQ(value("EqmIP", "EqmIP2"), "10.0.0.3");
    EXPECT_EQ(value("EqmImg", "EqmImg2"), "1");  // image mode 0 is recorded as 1
}

TEST_F(Discovery, OneNewControllerReturnsTheCountBeforeItsEntry) {
    ScriptedTransport t;
    t.answer(reply(1, {10, 0, 0, 2}));
    EXPECT_EQ(run(t, true), 0);
    EXPECT_EQ(value("EqmTotal", "EqmTotal"), "1");
}

TEST_F(Discovery, KnownControllerIsRewrittenInPlace) {
    ScriptedTransport first;
    first.answer(reply(1, {10, 0, 0, 2}));
    first.answer(reply(1, {10, 0, 0, 3}));
    first.answer(reply(1, {10, 0, 0, 4}));
    run(first, true);

    ScriptedTransport again;
    again.answer(reply(77, {10, 0, 0, 3}, 4));
    EXPECT_EQ(run(again, false), 3);
    EXPECT_EQ(value("EqmTotal", "EqmTotal"), "3");
    EXPECT_EQ(value("EqmNO", "EqmNo2"), "77");
    EXPECT_EQ(value("EqmImg", "EqmImg2"), "1");  // image mode 4 is recorded as 1
    EXPECT_EQ(value("EqmIP", "EqmIP4"), "");
}

TEST_F(Discovery, InvalidDatagramsAreIgnoredAndNotCountedAsFailures) {
    ScriptedTransport t;
    Bytes shortOne = reply(1, {10, 0, 0, 5});
    shortOne.pop_back();
    Bytes longOne = reply(1, {10, 0, 0, 6});
    longOne.push_back(0);
    Bytes badSignature = reply(1, {10, 0, 0, 7});
    badSignature[4] = 0x45;
    t.answer(shortOne);
    t.answer(longOne);
    t.answer(reply(0, {10, 0, 0, 8}));  // device number 0
    t.answer(badSignature);
    t.answer({});  // an empty datagram
    t.answer(reply(1, {10, 0, 0, 9}));
    // Failures between the datagrams: the first, third and fifth receive fail.
    t.failing = {1, 3, 5};
    EXPECT_EQ(run(t, true), 0);
    EXPECT_EQ(value("EqmTotal", "EqmTotal"), "1");
    EXPECT_EQ(value("EqmIP", "EqmIP1"), "10.0.0.9");
    // Six datagrams and six failures in all: the failures need not be in a row.
    EXPECT_EQ(t.receives, 12);
}

TEST_F(Discovery, AFloodOfOtherDatagramsEndsTheCallAfterOneHundredInARow) {
    ScriptedTransport t;
    t.answer(reply(1, {10, 0, 0, 9}));
    t.answer(reply(2, {10, 0, 0, 10}));
    for (int i = 0; i < 99; ++i) t.answer(Bytes(35, 0x48));
    t.answer(reply(3, {10, 0, 0, 11}));  // a valid reply starts the count again
    for (int i = 0; i < 150; ++i) t.answer(Bytes(35, 0x48));
    EXPECT_EQ(run(t, false), 2);  // the count before the last accepted reply
    EXPECT_EQ(value("EqmTotal", "EqmTotal"), "3");
    EXPECT_EQ(t.receives, 2 + 99 + 1 + 100);
    EXPECT_EQ(t.closes, 1);
}

// A peer that answers every receive with a valid reply for a controller of
// an address never seen before, each after a pause, up to a number of them.
class EndlessReplies : public testing::FakeTransport {
public:
    int available = 0;
    uint32_t pauseMs = 0;
    int receive(core::SocketHandle, uint8_t* buffer, int, core::Endpoint&) override {
        if (++receives > available) return -1;
        if (pauseMs) platform::sleep_ms(pauseMs);
        const Bytes r =
            reply(1, {10, static_cast<uint8_t>(receives >> 8), static_cast<uint8_t>(receives), 1});
        std::copy(r.begin(), r.end(), buffer);
        return static_cast<int>(r.size());
    }
};

TEST_F(Discovery, ACallRecordsAtMostItsLimitOfRepliesWithinItsTime) {
    devices::DiscoveryLimits limits;
    limits.acceptedReplies = 50;
    EndlessReplies many;
    many.available = 300;
    EXPECT_EQ(run(many, false, limits), 49);
    EXPECT_EQ(value("EqmTotal", "EqmTotal"), "50");
    EXPECT_EQ(many.receives, 50);
    EXPECT_EQ(many.closes, 1);

    limits = {};
    limits.durationMs = 200;
    EndlessReplies slow;
    slow.available = 300;
    slow.pauseMs = 10;
    EXPECT_LT(testing::elapsed_ms([&] { run(slow, true, limits); }), 1500);
    EXPECT_LT(slow.receives, 150);
    EXPECT_EQ(slow.closes, 1);
}

TEST_F(Discovery, EntryIsKeyedByTheAddressInsideTheReplyNotItsSender) {
    ScriptedTransport t;
    t.answer(reply(1, {192, 0, 2, 77}), {platform::ipv4_from_text("10.9.9.9"), 0x2823});
    run(t, false);
    EXPECT_EQ(value("EqmIP", "EqmIP1"), "192.0.2.77");
}

TEST_F(Discovery, OpenOrSendFailureReturnsMinusOneAndWritesNothing) {
    ScriptedTransport noSocket;
    noSocket.failOpen = true;
    EXPECT_EQ(run(noSocket, false), -1);
    EXPECT_EQ(noSocket.closes, 0);

    ScriptedTransport sendFails;
    sendFails.failSendAfter = 3;
    sendFails.answer(reply(1, {10, 0, 0, 2}));
    EXPECT_EQ(run(sendFails, false), -1);
    EXPECT_EQ(sendFails.receives, 0);
    EXPECT_EQ(sendFails.closes, 1);
    EXPECT_EQ(value("EqmTotal", "EqmTotal"), "");
}

}  // namespace
}  // namespace doorlink
