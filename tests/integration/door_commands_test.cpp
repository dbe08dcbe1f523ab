// Door actuation, state queries and monitoring against a simulated controller.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "doorlink/doorlink.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

using doorsim::Bytes;
using testing::elapsed_ms;

class DoorCommands : public testing::SimulatedController {
protected:
    Bytes macBytes() const {
        auto m = sim.mac(id);
        return Bytes(m.begin(), m.end());
    }
    Bytes last() const { return received().back().bytes; }
    // Replies from a script, one list per request in turn.
    void script(std::vector<Bytes> replies) {
        auto queue = std::make_shared<std::vector<Bytes>>(std::move(replies));
        sim.set_script(id, [queue](const doorsim::Datagram&, doorsim::ControllerState&) {
            std::vector<Bytes> out;
            if (!queue->empty()) {
                out.push_back(queue->front());
                queue->erase(queue->begin());
            }
            return std::optional<std::vector<Bytes>>(out);
        });
    }
    static Bytes cat(Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
};

TEST_F(DoorCommands, ActuationSendsTheDoorPatternAndIsAcknowledged) {
    ASSERT_EQ(DoorCompelOpenOrClose(address.c_str(), 2, mac.c_str()), 1u);
    EXPECT_EQ(last(),
              cat({0x63, 0x36, 0x46, 0x56, 0x11, 0x22, 0x53, 0x35, 0x45, 0x55, 0x00, 0x11}, macBytes()));
    ASSERT_EQ(MulDoorCompelOpenOrClose(address.c_str(), 3, 254, mac.c_str()), 1u);
    EXPECT_EQ(last(), cat(cat({0x63, 0x36, 0x46, 0x56, 0x11, 0x22, 0x54, 0x45, 0x55, 0x65, 0x11, 0x22, 0xFE},
                              macBytes()),
                          {0x00}));
    ASSERT_EQ(MulDoorCompelOpenOrClose(address.c_str(), 0, -1, mac.c_str()), 1u);
    EXPECT_EQ(last()[12], 0xFF);
    ASSERT_EQ(DoorInit(address.c_str(), mac.c_str()), 1u);
    EXPECT_EQ(last(), cat(cat({0x31, 0x13, 0x23, 0x33, 0x66}, macBytes()), {0x00}));
    auto doors = sim.state(id).doors;
    EXPECT_EQ(doors.forcedActuations, (std::array<int, 4>{1, 0, 1, 1}));
    EXPECT_EQ(doors.lastActuationExtra, 0xFF);
    EXPECT_EQ(doors.initialisations, 1);
}

TEST_F(DoorCommands, OutOfRangeArgumentsSendNothing) {
    uint32_t state = 9, rec = 9;
    EXPECT_EQ(DoorCompelOpenOrClose(address.c_str(), 4, mac.c_str()), 0u);
    EXPECT_EQ(MulDoorCompelOpenOrClose(address.c_str(), 1, 255, mac.c_str()), 0u);
    EXPECT_EQ(MulDoorCompelOpenOrClose(address.c_str(), 4, 0, mac.c_str()), 0u);
    EXPECT_EQ(MulDoorCurState(address.c_str(), mac.c_str(), &state, 256), 0u);
    EXPECT_EQ(DoorState(address.c_str(), 5, mac.c_str()), nullptr);
    EXPECT_EQ(DoorInit(address.c_str(), "00a0c9"), 0u);
    EXPECT_EQ(DoorCurState(address.c_str(), mac.c_str(), nullptr), 0u);
    EXPECT_EQ(DoorRecAndDir(address.c_str(), &rec, nullptr, mac.c_str()), 0u);
    EXPECT_EQ(DoorFlag(address.c_str(), 1, "12345678", "bad"), 0u);
    EXPECT_EQ(DoorFlag(address.c_str(), 1, nullptr, mac.c_str()), 0u);
    EXPECT_EQ(DoorScout(nullptr, &state), 0u);
    EXPECT_EQ(DoorScout(address.c_str(), nullptr), 0u);
    EXPECT_EQ(DoorRestDay(address.c_str(), "000001", "", mac.c_str()), 0u);  // week text too short
    EXPECT_EQ(SetMode(nullptr, address.c_str(), mac.c_str()), 0u);
    EXPECT_EQ(LockAndButtonTime(address.c_str(), "0830", "0830", mac.c_str(), 0, 3), 0u);
    EXPECT_EQ(state, 9u);
    EXPECT_EQ(rec, 9u);
    sim.wait_received(id, 1, std::chrono::milliseconds(100));
    EXPECT_EQ(sim.received_count(id), 0u);
}

TEST_F(DoorCommands, CurrentStateNeedsTwoEqualBytesOfAtMostThree) {
    uint32_t state = 9;
    sim.update_state(id, [](doorsim::ControllerState& s) { s.doors.currentState = {2, 2}; });
    ASSERT_EQ(DoorCurState(address.c_str(), mac.c_str(), &state), 1u);
    EXPECT_EQ(state, 2u);
    EXPECT_EQ(last(), cat({0x82, 0x28, 0x38, 0x48, 0x22, 0x04}, macBytes()));
    for (std::array<uint8_t, 2> bad : {std::array<uint8_t, 2>{2, 3}, std::array<uint8_t, 2>{5, 5}}) {
        sim.clear_received(id);
        sim.update_state(id, [bad](doorsim::ControllerState& s) { s.doors.currentState = bad; });
        state = 9;
        EXPECT_EQ(DoorCurState(address.c_str(), mac.c_str(), &state), 0u);
        EXPECT_EQ(state, 9u);
        EXPECT_EQ(sim.received_count(id), 1u);  // no resend
    }
    sim.clear_received(id);
    sim.update_state(id, [](doorsim::ControllerState& s) { s.doors.currentState = {3, 3}; });
    ASSERT_EQ(MulDoorCurState(address.c_str(), mac.c_str(), &state, 255), 1u);
    EXPECT_EQ(state, 3u);
    EXPECT_EQ(last(), cat(cat({0x82, 0x28, 0x38, 0x48, 0x22, 0x04, 0xFF}, macBytes()), {0x00}));
}

TEST_F(DoorCommands, CurrentStateResendsWhenTheReplyIsNoEcho) {
    script({{0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA},
            {0x82, 0x28, 0x38, 0x48, 0x22, 0x04, 0x01, 0x01}});
    uint32_t state = 9;
    ASSERT_EQ(DoorCurState(address.c_str(), mac.c_str(), &state), 1u);
    EXPECT_EQ(state, 1u);
    EXPECT_EQ(sim.received_count(id), 2u);
}

TEST_F(DoorCommands, DoorStateWaitsForAReplyOfTheSelectorsLength) {
    script({Bytes(10, 0xAA), Bytes(14, 0xBB)});
    const uint8_t* reply = DoorState(address.c_str(), 1, mac.c_str());
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(Bytes(reply, reply + 14), Bytes(14, 0xBB));
    EXPECT_EQ(sim.received_count(id), 2u);
    EXPECT_EQ(last(), cat({0x82, 0x28, 0x38, 0x48, 0x22, 0x01}, macBytes()));

    sim.set_script(id, nullptr);
    reply = DoorState(address.c_str(), 0, mac.c_str());
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(Bytes(reply, reply + 10), Bytes(10, 0x10));

    // Only 10-byte replies for selector 1: the controller falls silent after them.
    script({Bytes(10, 0xAA), Bytes(10, 0xAA)});
    EXPECT_EQ(DoorState(address.c_str(), 1, mac.c_str()), nullptr);
}

TEST_F(DoorCommands, DoorStateBytesBelongToTheCallingThread) {
    sim.update_state(id, [](doorsim::ControllerState& s) {
        s.doors.stateReplies[2] = Bytes(10, 0x22);
        s.doors.stateReplies[3] = Bytes(10, 0x33);
    });
    const uint8_t* mine = DoorState(address.c_str(), 2, mac.c_str());
    ASSERT_NE(mine, nullptr);
    std::thread other([&] {
        const uint8_t* theirs = DoorState(address.c_str(), 3, mac.c_str());
        ASSERT_NE(theirs, nullptr);
        EXPECT_EQ(theirs[0], 0x33);
    });
    other.join();
    EXPECT_EQ(Bytes(mine, mine + 10), Bytes(10, 0x22));
}

TEST_F(DoorCommands, RecordAndDirectionAreBigEndian) {
    sim.update_state(id, [](doorsim::ControllerState& s) {
        s.doors.records = 300;
        s.doors.direction = 5;
    });
    uint32_t rec = 0, dir = 0;
    ASSERT_EQ(DoorRecAndDir(address.c_str(), &rec, &dir, mac.c_str()), 1u);
    EXPECT_EQ(rec, 300u);
    EXPECT_EQ(dir, 5u);
    EXPECT_EQ(last(), cat({0x83, 0x38, 0x48, 0x58, 0x33, 0x01}, macBytes()));
}

TEST_F(DoorCommands, ScoutHandsAnOpenBoundSocketToTheCaller) {
    doorsim::Faults f;
    f.wrongRepliesFirst = 1;
    sim.set_faults(id, f);
    uint32_t socket = 0;
    ASSERT_EQ(DoorScout1(address.c_str(), 3, &socket), 1u);
    ASSERT_NE(socket, 0u);
    auto got = received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].bytes, (Bytes{0x91, 0x19, 0x29, 0x39, 0x22, 0x03, 0x00, 0x00}));
    EXPECT_EQ(got[1].bytes, got[0].bytes);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ASSERT_EQ(::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&bound), &len), 0);
    EXPECT_EQ(ntohs(bound.sin_port), got[0].fromPort);
    auto target = sim.state(id).monitor;
    EXPECT_TRUE(target.set);
    EXPECT_EQ(target.port, got[0].fromPort);
    // What the controller pushes arrives on the handed socket.
    ASSERT_TRUE(sim.push(id, {0x01, 0x02}));
    uint8_t buffer[8];
    EXPECT_EQ(::recv(static_cast<int>(socket), buffer, sizeof buffer, 0), 2);

    uint32_t second = 0;
    ASSERT_EQ(DoorScout(address.c_str(), &second), 1u);
    EXPECT_NE(second, socket);
    EXPECT_EQ(last(), (Bytes{0x91, 0x19, 0x29, 0x39, 0x22, 0x00}));
    ::close(static_cast<int>(socket));
    ::close(static_cast<int>(second));
}

int open_descriptors() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) count += ::fcntl(fd, F_GETFD) != -1;
    return count;
}

TEST_F(DoorCommands, AFailedScoutLeavesNoSocketOpen) {
    doorsim::Faults f;
    f.silent = true;
    sim.set_faults(id, f);
    int before = open_descriptors();
    uint32_t socket = 77;
    EXPECT_EQ(DoorScout(address.c_str(), &socket), 0u);
    EXPECT_EQ(socket, 77u);
    EXPECT_EQ(open_descriptors(), before);
}

TEST_F(DoorCommands, FlagGoesOutFiveTimesAndNeedsTheBuiltReply) {
    uint32_t result = 0;
    long ms = elapsed_ms([&] { result = DoorFlag(address.c_str(), 1, "12345678", mac.c_str()); });
    ASSERT_EQ(result, 1u);
    EXPECT_GE(ms, 950);
    sim.wait_received(id, 5, std::chrono::milliseconds(500));
    auto got = received();
    ASSERT_EQ(got.size(), 5u);
    const Bytes expected = cat({0x71, 0x17, 0x27, 0x37, 0x7B, 0xB2, 0x6E, 0x00, 0x00, 0x00}, macBytes());
    for (const auto& d : got) EXPECT_EQ(d.bytes, expected);
    EXPECT_EQ(sim.state(id).doors.cardFlags.count({0x7B, 0xB2, 0x6E}), 1u);

    sim.clear_received(id);
    ASSERT_EQ(DoorFlag(address.c_str(), 2, "00099999", mac.c_str()), 1u);
    EXPECT_EQ(last(), cat({0x72, 0x27, 0x37, 0x47, 0x00, 0x86, 0x9F, 0x00, 0x00, 0x00}, macBytes()));
}

TEST_F(DoorCommands, FlagResendsAfterAReplyThatRepeatsTheRequest) {
    // Counted on the simulator's thread, read on this one.
    auto calls = std::make_shared<std::atomic<int>>(0);
    sim.set_script(id, [calls](const doorsim::Datagram& d, doorsim::ControllerState&) {
        // The first burst is answered with its own bytes, the resend properly.
        std::vector<Bytes> out;
        if (++*calls == 1) out.push_back(d.bytes);
        if (*calls == 6) out.push_back({0x74, 0x47, 0x57, 0x67, d.bytes[4], d.bytes[5], d.bytes[6], 0, 0, 0});
        return std::optional<std::vector<Bytes>>(out);
    });
    uint32_t result = 0;
    long ms = elapsed_ms([&] { result = DoorFlag(address.c_str(), 0, "00100001", mac.c_str()); });
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(*calls, 6);
    EXPECT_GE(ms, 1900);  // a wait after the burst and one after the resend
}

TEST_F(DoorCommands, PhotoTestIsFiveBytesAndWaitsASecond) {
    uint32_t result = 0;
    long ms = elapsed_ms([&] { result = PhotoTest(address.c_str()); });
    ASSERT_EQ(result, 1u);
    EXPECT_GE(ms, 950);
    EXPECT_EQ(last(), (Bytes{0x45, 0x54, 0x64, 0x74, 0x11}));
    EXPECT_EQ(sim.state(id).doors.photoTests, 1);
}

TEST_F(DoorCommands, AWrongReplyFloodEndsWithZero) {
    script(std::vector<Bytes>(150, Bytes(10, 0x01)));
    EXPECT_EQ(DoorInit(address.c_str(), mac.c_str()), 0u);
    EXPECT_EQ(sim.received_count(id), 100u);
}

}  // namespace
}  // namespace doorlink
