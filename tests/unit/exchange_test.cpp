// The command exchange, driven through a scripted transport.
#include <gtest/gtest.h>

#include "core/exchange.h"
#include "support/fake_transport.h"

namespace doorlink {
namespace {

using testing::acknowledgement;
using testing::FakeTransport;
using Bytes = std::vector<uint8_t>;

const Bytes kRequest = {0x31, 0x13, 0x23, 0x33, 0x66, 1, 2, 3, 4, 5, 6, 0};

core::ExchangeOutcome run(FakeTransport& t, const core::ExchangeProfile& p, core::ResultStep step = {}) {
    return core::RunExchange(t, "127.0.0.9", kRequest.data(), static_cast<int>(kRequest.size()), p, step);
}

TEST(Exchange, AcknowledgedOnFirstReplyClosesAndReturnsOne) {
    FakeTransport t;
    t.answer(acknowledgement());
    auto out = run(t, {});
    EXPECT_EQ(out.result, 1u);
    ASSERT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.sent[0].bytes, kRequest);
    EXPECT_EQ(t.sent[0].to.port, platform::port_to_network(9000));
    EXPECT_EQ(t.closes, 1);
    EXPECT_EQ(out.socket, 0u);
}

TEST(Exchange, WrongReplyThenAcknowledgementResendsTheSameBytesOnce) {
    FakeTransport t;
    t.answer({0x00, 0x01});
    t.answer(acknowledgement());
    EXPECT_EQ(run(t, {}).result, 1u);
    ASSERT_EQ(t.sent.size(), 2u);
    EXPECT_EQ(t.sent[1].bytes, kRequest);
}

TEST(Exchange, ShortAcknowledgementPrefixInZeroedBufferIsRejected) {
    FakeTransport t;
    t.answer({0xF1, 0xF2, 0xF3, 0xF4});
    // Silent afterwards: the resend gets no answer.
    EXPECT_EQ(run(t, {}).result, 0u);
    EXPECT_EQ(t.sent.size(), 2u);
    EXPECT_EQ(t.closes, 1);
}

TEST(Exchange, SilentPeerEndsAfterOneSendWithZero) {
    FakeTransport t;
    EXPECT_EQ(run(t, {}).result, 0u);
    EXPECT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.receives, 1);
    EXPECT_EQ(t.closes, 1);
}

TEST(Exchange, ResendGoesToTheSenderOfTheLastDatagram) {
    FakeTransport t;
    core::Endpoint other{0x0500007F, platform::port_to_network(9000)};
    t.answer({0x00}, other);
    t.answer(acknowledgement(), other);
    EXPECT_EQ(run(t, {}).result, 1u);
    ASSERT_EQ(t.sent.size(), 2u);
    EXPECT_NE(t.sent[0].to.address, other.address);
    EXPECT_EQ(t.sent[1].to.address, other.address);
}

TEST(Exchange, GivesUpAfterOneHundredRejectedRepliesInARow) {
    FakeTransport t;
    for (int i = 0; i < 150; ++i) t.answer({0x00, 0x00});
    EXPECT_EQ(run(t, {}).result, 0u);
    EXPECT_EQ(t.receives, 100);
    EXPECT_EQ(t.sent.size(), 100u);  // the request and 99 resends
    EXPECT_EQ(t.closes, 1);
}

TEST(Exchange, FailuresBeforeAndDuringTheExchange) {
    FakeTransport noSocket;
    noSocket.failOpen = true;
    EXPECT_EQ(run(noSocket, {}).result, 0u);
    EXPECT_EQ(noSocket.closes, 0);

    FakeTransport sendFails;
    sendFails.failSendAfter = 0;
    EXPECT_EQ(run(sendFails, {}).result, 0u);
    EXPECT_EQ(sendFails.closes, 1);
    EXPECT_EQ(sendFails.receives, 0);

    FakeTransport resendFails;
    resendFails.failSendAfter = 1;
    resendFails.answer({0x00});
    EXPECT_EQ(run(resendFails, {}).result, 0u);
    EXPECT_EQ(resendFails.closes, 1);
}

TEST(Exchange, EchoCheckComparesTheFirstSixBytes) {
    FakeTransport t;
    Bytes echo(kRequest.begin(), kRequest.begin() + 6);
    Bytes almost = echo;
    almost[5] ^= 1;
    t.answer(almost);
    t.answer(echo);
    core::ExchangeProfile p;
    p.check = core::ReplyCheck::Echo;
    EXPECT_EQ(run(t, p).result, 1u);
    EXPECT_EQ(t.sent.size(), 2u);
}

TEST(Exchange, LengthCheckLooksOnlyAtTheLength) {
    FakeTransport t;
    t.answer(Bytes(10, 0xAA));
    t.answer(Bytes(14, 0xBB));
    core::ExchangeProfile p;
    p.check = core::ReplyCheck::Length;
    p.replyLength = 14;
    int seenLength = 0;
    auto step = [&](const core::Reply& r) {
        seenLength = r.length;
        return r.buffer.u8(13) == 0xBB;
    };
    EXPECT_EQ(run(t, p, step).result, 1u);
    EXPECT_EQ(seenLength, 14);
}

TEST(Exchange, RejectingResultStepEndsWithoutResend) {
    FakeTransport t;
    t.answer(acknowledgement());
    t.answer(acknowledgement());
    auto reject = [](const core::Reply&) { return false; };
    EXPECT_EQ(run(t, {}, reject).result, 0u);
    EXPECT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.closes, 1);
}

TEST(Exchange, StaleBytesOfAnEarlierReplyStayUnlessCleared) {
    // A full reply, then a 4-byte reply: the buffer still holds the rest.
    Bytes full = acknowledgement();
    full[0] = 0x00;
    Bytes head = {0xF1};
    for (bool clear : {false, true}) {
        FakeTransport t;
        t.answer(full);
        t.answer(head);
        core::ExchangeProfile p;
        p.clearBeforeEachReceive = clear;
        EXPECT_EQ(run(t, p).result, clear ? 0u : 1u) << "clear=" << clear;
    }
}

TEST(Exchange, BurstAndWaitsFollowTheProfile) {
    FakeTransport t;
    t.answer({0x00});
    t.answer(acknowledgement());
    core::ExchangeProfile p;
    p.copies = 5;
    p.waitAfterFirstSend = true;
    p.waitBeforeLaterReceive = true;
    EXPECT_EQ(run(t, p).result, 1u);
    EXPECT_EQ(t.sent.size(), 6u);
    ASSERT_EQ(t.sleeps.size(), 2u);
    EXPECT_EQ(t.sleeps[0].ms, 1000u);
    EXPECT_EQ(t.sleeps[0].afterSends, 5u);
    EXPECT_EQ(t.sleeps[1].afterSends, 6u);
}

TEST(Exchange, SocketGoesToTheCallerOnlyOnSuccess) {
    core::ExchangeProfile p;
    p.socketToCaller = true;
    FakeTransport ok;
    ok.answer(acknowledgement());
    auto out = run(ok, p);
    EXPECT_EQ(out.result, 1u);
    EXPECT_EQ(out.socket, 42u);
    EXPECT_EQ(ok.closes, 0);

    FakeTransport silent;
    auto none = run(silent, p);
    EXPECT_EQ(none.result, 0u);
    EXPECT_EQ(none.socket, 0u);
    EXPECT_EQ(silent.closes, 1);
}

TEST(Exchange, BuilderSeesTheBoundPortAndMayGiveUp) {
    FakeTransport t;
    t.boundPort = 0x1F90;
    t.answer(acknowledgement());
    auto build = [](uint16_t port, core::ByteWriter& w) {
        w.u8(0, 0x61).u16_be(1, port).u8(3, 0).u8(4, 0).u8(5, 0);
        return 6;
    };
    EXPECT_EQ(core::RunExchange(t, "127.0.0.9", core::ExchangeProfile{}, build).result, 1u);
    ASSERT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.sent[0].bytes, (Bytes{0x61, 0x1F, 0x90, 0, 0, 0}));

    FakeTransport refused;
    auto giveUp = [](uint16_t, core::ByteWriter&) { return 0; };
    EXPECT_EQ(core::RunExchange(refused, "127.0.0.9", core::ExchangeProfile{}, giveUp).result, 0u);
    EXPECT_TRUE(refused.sent.empty());
    EXPECT_EQ(refused.closes, 1);
}

}  // namespace
}  // namespace doorlink
