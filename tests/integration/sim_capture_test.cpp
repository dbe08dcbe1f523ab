// doorsim's capture file: every datagram in and out as a libpcap record of a
// raw IPv4 packet, whole even when the simulator's threads write at once.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "doorlink/doorlink.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using doorsim::Bytes;

uint32_t native32(const Bytes& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
unsigned be16(const Bytes& b, size_t at) { return b[at] * 256u + b[at + 1]; }

class Capture : public testing::SimulatedController {};

TEST_F(Capture, HoldsEveryRequestAndReplyOfControllersOnDifferentThreads) {
    testing::TempDir dir;
    const std::string path = dir.file("capture.pcap");
    const int second = sim.add_controller({});
    ASSERT_TRUE(sim.set_capture(path));
    constexpr int kCalls = 20;
    std::vector<std::thread> hosts;
    for (int c : {id, second}) {
        hosts.emplace_back([&, c] {
            const std::string a = sim.address(c), m = sim.mac_text(c);
            for (int i = 0; i < kCalls; ++i) EXPECT_EQ(DoorInit(a.c_str(), m.c_str()), 1u);
        });
    }
    for (auto& h : hosts) h.join();
    sim.stop();
    ASSERT_TRUE(sim.set_capture(""));

    std::ifstream in(path, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GE(file.size(), 24u);
    EXPECT_EQ(native32(file, 0), 0xA1B2C3D4u);
    EXPECT_EQ(native32(file, 20), 101u);  // raw IPv4
    int requests = 0, replies = 0;
    size_t at = 24;
    while (at + 16 <= file.size()) {
        const uint32_t length = native32(file, at + 8);
        ASSERT_EQ(native32(file, at + 12), length);
        ASSERT_LE(at + 16 + length, file.size());
        const Bytes packet(file.begin() + static_cast<long>(at + 16),
                           file.begin() + static_cast<long>(at + 16 + length));
        at += 16 + length;
        ASSERT_GE(packet.size(), 28u);
        EXPECT_EQ(packet[0], 0x45);
        EXPECT_EQ(packet[9], 17);  // UDP
        EXPECT_EQ(be16(packet, 2), packet.size());
        uint32_t sum = 0;  // the header checksum makes the header add up to 0xFFFF
        for (size_t i = 0; i < 20; i += 2) sum += be16(packet, i);
        while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
        EXPECT_EQ(sum, 0xFFFFu);
        EXPECT_EQ(be16(packet, 24), packet.size() - 20);
        const Bytes payload(packet.begin() + 28, packet.end());
        if (be16(packet, 22) == 9000 && payload.size() == 12 && payload[0] == 0x31) ++requests;
        if (be16(packet, 20) == 9000 && payload.size() == 10 && payload[0] == 0xF1) ++replies;
    }
    EXPECT_EQ(at, file.size());
    EXPECT_EQ(requests, 2 * kCalls);
    EXPECT_EQ(replies, 2 * kCalls);
}

}  // namespace
}  // namespace doorlink
