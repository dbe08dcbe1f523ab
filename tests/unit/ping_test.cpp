// Ping through a scripted echo channel: requests, the attempts, which first
// datagram decides, and the status lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>

#include "devices/ping.h"
#include "platform/net.h"
#include "platform/profile.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using Bytes = std::vector<uint8_t>;
using Receive = devices::EchoChannel::Receive;

class ScriptedChannel : public devices::EchoChannel {
public:
    struct Incoming {
        Receive kind;
        Bytes bytes;
        const char* from = "127.0.0.1";
    };
    bool open(int timeoutMs) override {
        ++opens;
        openedWith = timeoutMs;
        return !failOpen;
    }
    void close() override { ++closes; }
    int send(const uint8_t* message, int length, uint32_t address) override {
        if (failSend) return -1;
        sent.emplace_back(message, message + length);
        to = address;
        tick += 3;
        return length;
    }
    Receive receive(uint8_t* buffer, int capacity, int waitMs, int& length, uint32_t& from) override {
        waits.push_back(waitMs);
        if (incoming.empty()) return Receive::TimedOut;
        Incoming next = incoming.front();
        incoming.pop_front();
        if (next.kind != Receive::Received) return next.kind;
        length = std::min<int>(capacity, static_cast<int>(next.bytes.size()));
        std::memcpy(buffer, next.bytes.data(), static_cast<size_t>(length));
        from = platform::ipv4_from_text(next.from);
        tick += 5;
        return Receive::Received;
    }
    uint32_t tick_count_ms() override { return tick; }
    uint16_t identifier() override { return 0x3456; }

    // An echo reply to request number n, as the raw socket shows it.
    Bytes reply_to(size_t n, int identifierDelta = 0) const {
        const Bytes& request = sent.at(n);
        Bytes r(20 + request.size(), 0);
        r[0] = 0x45;
        std::copy(request.begin(), request.end(), r.begin() + 20);
        r[20] = 0;
        r[24] = static_cast<uint8_t>(request[4] + identifierDelta);
        return r;
    }
    // An error message of the given type about request number n: the IPv4
    // header and the first 8 bytes of the request it quotes, sent to
    // destination.
    Bytes error_about(size_t n, uint8_t type, const char* destination = "127.0.0.1") const {
        const Bytes& request = sent.at(n);
        Bytes r(56, 0);
        r[0] = r[28] = 0x45;
        r[20] = type;
        r[37] = 1;  // the quoted datagram is ICMP
        const uint32_t quotedTo = platform::ipv4_from_text(destination);
        std::memcpy(r.data() + 44, &quotedTo, 4);
        std::copy(request.begin(), request.begin() + 8, r.begin() + 48);
        return r;
    }

    std::deque<Incoming> incoming;
    std::vector<int> waits;
    std::vector<Bytes> sent;
    uint32_t to = 0;
    uint32_t tick = 1000;
    int opens = 0, closes = 0, openedWith = 0;
    bool failOpen = false, failSend = false;
};

// Answers are queued once the request they answer exists: an echo reply,
// or an error message of the given type.
class AnsweringChannel : public ScriptedChannel {
public:
    size_t answerRequest = 0;
    uint8_t errorType = 0;
    int send(const uint8_t* m, int length, uint32_t address) override {
        int n = ScriptedChannel::send(m, length, address);
        if (n > 0 && sent.size() == answerRequest + 1) {
            incoming.push_back({Receive::Received,
                                errorType ? error_about(answerRequest, errorType) : reply_to(answerRequest)});
        }
        return n;
    }
};

// Request 0 draws only datagrams that are not for this call, each unlike a
// reply to it in one respect: echo replies with another identifier, to a
// request not sent, from another address, and error messages about a request
// to another address and about a UDP datagram. Request 1 draws its reply.
class OthersFirstChannel : public ScriptedChannel {
public:
    int send(const uint8_t* m, int length, uint32_t address) override {
        int n = ScriptedChannel::send(m, length, address);
        if (sent.size() == 1) {
            Bytes unsent = reply_to(0);
            unsent[26] = 4;
            Bytes udp = error_about(0, 3);
            udp[37] = 17;
            for (const Bytes& other : {reply_to(0, 1), unsent, error_about(0, 11, "127.0.0.2"), udp}) {
                incoming.push_back({Receive::Received, other});
            }
            incoming.push_back({Receive::Received, reply_to(0), "127.0.0.3"});
        } else {
            incoming.push_back({Receive::Received, reply_to(1)});
        }
        return n;
    }
};

class Ping : public ::testing::Test {
protected:
    std::string status(int attempt) {
        char text[128];
        std::string key = "PingStatue" + std::to_string(attempt);
        platform::profile_read_string("PingStatue", key.c_str(), nullptr, text, sizeof text, path.c_str());
        return text;
    }
    uint32_t run(devices::EchoChannel& c) {
        return devices::RunPing(c, platform::ipv4_from_text("127.0.0.1"), path);
    }
    testing::TempDir dir;
    std::string path = dir.file("ping.ini");
};

TEST_F(Ping, SilentAddressTimesOutFourTimesWithSequenceNumbersZeroToThree) {
    ScriptedChannel c;
    EXPECT_EQ(run(c), 0u);
    EXPECT_EQ(c.openedWith, 1000);
    ASSERT_EQ(c.sent.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const Bytes& r = c.sent[i];
        ASSERT_EQ(r.size(), 44u);
        EXPECT_EQ(r[0], 8);
        EXPECT_EQ(r[1], 0);
        EXPECT_EQ(r[4] | r[5] << 8, 0x3456);  // the call's identifier
        EXPECT_EQ(r[6] | r[7] << 8, static_cast<int>(i));
        EXPECT_EQ(Bytes(r.begin() + 12, r.end()), Bytes(32, 0x65));
        // A valid checksum makes the sum over the whole message come out 0.
        EXPECT_EQ(devices::InternetChecksum(r.data(), r.size()), 0);
        EXPECT_EQ(status(static_cast<int>(i) + 1), "Time out");
    }
    EXPECT_EQ(c.to, platform::ipv4_from_text("127.0.0.1"));
    EXPECT_EQ(c.closes, 1);
}

TEST_F(Ping, AnswerToTheSecondRequestSucceedsWithTheSuccessLine) {
    AnsweringChannel c;
    c.answerRequest = 1;
    EXPECT_EQ(run(c), 1u);
    EXPECT_EQ(c.sent.size(), 2u);
    EXPECT_EQ(status(1), "Time out");
    // 20 + 44 bytes; sequence 1; the request carried tick 1003, the reply came at 1011.
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("PingStatue2=64 bytes from 127.0.0.1:icmp_seq = 1.time: 8 ms\n"),
              std::string::npos)
        << text.str();
    EXPECT_EQ(c.closes, 1);
}

TEST_F(Ping, FirstDatagramForThisCallDecides) {
    AnsweringChannel unreachable;
    unreachable.errorType = 3;
    EXPECT_EQ(run(unreachable), 0u);
    EXPECT_EQ(status(1), "Time out2");

    // What other calls or programs get is passed over within the attempt's
    // time-out; a reply to this call then decides.
    OthersFirstChannel others;
    EXPECT_EQ(run(others), 1u);
    EXPECT_EQ(status(1), "Time out");
    EXPECT_EQ(others.waits, (std::vector<int>{1000, 995, 990, 985, 980, 975, 1000}));

    ScriptedChannel shortOne;
    shortOne.incoming.push_back({Receive::TimedOut, {}});
    shortOne.incoming.push_back({Receive::Received, Bytes(31, 0)});
    EXPECT_EQ(run(shortOne), 0u);
    EXPECT_EQ(status(2), "Time out1");
    EXPECT_EQ(shortOne.sent.size(), 2u);

    ScriptedChannel failed;
    failed.incoming.push_back({Receive::Failed, {}});
    EXPECT_EQ(run(failed), 0u);
    EXPECT_EQ(status(1), "Time out1");
    EXPECT_EQ(failed.closes, 1);
}

TEST_F(Ping, NoSocketOrAFailedSendWritesNothing) {
    ScriptedChannel noSocket;
    noSocket.failOpen = true;
    EXPECT_EQ(run(noSocket), 0u);
    EXPECT_EQ(noSocket.closes, 0);
    ScriptedChannel sendFails;
    sendFails.failSend = true;
    EXPECT_EQ(run(sendFails), 0u);
    EXPECT_EQ(sendFails.closes, 1);
    EXPECT_EQ(status(1), "");
}

TEST(InternetChecksum, OddLengthAndFolding) {
    const uint8_t data[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x01};
    // 0xFFFF + 0xFFFF + 0x0001 = 0x1FFFF, folded to 0x10000 and then to 0x0001.
    EXPECT_EQ(devices::InternetChecksum(data, sizeof data), 0xFFFE);
    const uint8_t zeros[4] = {};
    EXPECT_EQ(devices::InternetChecksum(zeros, sizeof zeros), 0xFFFF);
}

}  // namespace
}  // namespace doorlink
