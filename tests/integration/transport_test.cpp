// Local ports and the port range, seen from the controller's side.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/library_state.h"
#include "core/transport.h"
#include "doorlink/doorlink.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

using testing::elapsed_ms;

// A port for this process's range tests, unlikely to be shared with another
// test process.
uint16_t private_port() { return static_cast<uint16_t>(20000 + ::getpid() % 20000); }

class Ports : public testing::SimulatedController {};

TEST(PortRange, RefusesBoundsOutsideTheRangeOfPorts) {
    EXPECT_EQ(SetPortRange(-1, 100), 0u);
    EXPECT_EQ(SetPortRange(0, 65536), 0u);
    EXPECT_FALSE(core::LibraryState::get().port_range().set);
    EXPECT_EQ(SetPortRange(65535, 0), 1u);
    auto r = core::LibraryState::get().port_range();
    EXPECT_TRUE(r.set);
    EXPECT_EQ(r.start, 65535u);
    EXPECT_EQ(r.end, 0u);
    EXPECT_EQ(SetPortRange(-5, 10), 0u);  // the range set before stays
    EXPECT_EQ(core::LibraryState::get().port_range().start, 65535u);
}

TEST_F(Ports, WithoutARangeTheLocalPortLiesFrom9000To17999) {
    ASSERT_EQ(DoorSetTime(address.c_str(), mac.c_str()), 1u);
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_GE(got[0].fromPort, 9000);
    EXPECT_LE(got[0].fromPort, 17999);
}

TEST_F(Ports, WithARangeTheFirstFreePortFromItsStartIsBound) {
    uint16_t port = private_port();
    // Take the start of the range, so the opening has to move up by one.
    int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(SetPortRange(port, port + 5), 1u);
    ASSERT_EQ(DoorSetTime(address.c_str(), mac.c_str()), 1u);
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].fromPort, port + 1);

    // A range whose only port is taken: 0 at once, nothing sent.
    ASSERT_EQ(SetPortRange(port, port), 1u);
    long ms = elapsed_ms([&] { EXPECT_EQ(DoorSetTime(address.c_str(), mac.c_str()), 0u); });
    EXPECT_LT(ms, 500);
    EXPECT_EQ(sim.received_count(id), 1u);
    ::close(blocker);
    SetPortRange(port, 60000);
}

TEST(PortRange, AFailedBindAt65535MovesOnToAPortThePlatformPicks) {
    int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(65535);
    bool blocked = ::bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ASSERT_EQ(SetPortRange(65535, 65535), 1u);
    uint16_t port = 1;
    core::SocketHandle s = core::OpenControllerSocket(port);
    ASSERT_NE(s, 0u);
    // The port after 65535 is 0, which is not above the end of the range.
    if (blocked) EXPECT_EQ(port, 0);
    else EXPECT_EQ(port, 65535);
    core::CloseControllerSocket(s);
    ::close(blocker);
}

// The library's own open sockets are stepped over; a port is free again once
// its socket closes or goes to the host.
TEST(PortRange, PortsOfTheLibrarysOwnSocketsAreSkippedUntilReleased) {
    const uint16_t start = static_cast<uint16_t>(private_port() + 10);
    ASSERT_EQ(SetPortRange(start, start + 3), 1u);
    uint16_t first = 0, second = 0, third = 0;
    core::SocketHandle a = core::OpenControllerSocket(first);
    core::SocketHandle b = core::OpenControllerSocket(second);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(first, start);
    EXPECT_EQ(second, start + 1);
    core::CloseControllerSocket(a);
    core::SocketHandle c = core::OpenControllerSocket(third);
    EXPECT_EQ(third, start);
    // Handed over, b's port is the host's to close; once it is closed the
    // next opening binds it.
    core::HandOverSocket(b);
    ::close(static_cast<int>(b));
    core::SocketHandle d = core::OpenControllerSocket(second);
    EXPECT_EQ(second, start + 1);
    core::CloseControllerSocket(c);
    core::CloseControllerSocket(d);
    SetPortRange(start, 60000);
}

TEST(Transport, AReceiveWithNothingArrivingGivesMinusOneAfterTwoSeconds) {
    uint16_t port = 0;
    core::SocketHandle s = core::OpenControllerSocket(port);
    ASSERT_NE(s, 0u);
    uint8_t buffer[16];
    core::Endpoint from = core::MakeControllerAddress("127.0.0.1");
    int result = 0;
    long ms = elapsed_ms([&] { result = core::ReceiveFromController(s, buffer, sizeof buffer, from); });
    EXPECT_EQ(result, -1);
    EXPECT_GE(ms, 1900);
    EXPECT_LT(ms, 4000);
    core::CloseControllerSocket(s);
}

TEST(Transport, ADatagramLongerThanTheBufferIsAnError) {
    uint16_t port = 0;
    core::SocketHandle s = core::OpenControllerSocket(port);
    ASSERT_NE(s, 0u);
    core::Endpoint self = core::MakeControllerAddress("127.0.0.1");
    self.port = platform::port_to_network(port);
    const uint8_t big[32] = {1, 2, 3};
    ASSERT_EQ(core::SendToController(s, big, sizeof big, self), 32);
    uint8_t small[16];
    core::Endpoint from{};
    EXPECT_EQ(core::ReceiveFromController(s, small, sizeof small, from), -1);
    ASSERT_EQ(core::SendToController(s, big, 0, self), -1);  // nothing sent is a failure
    core::CloseControllerSocket(s);
}

}  // namespace
}  // namespace doorlink
