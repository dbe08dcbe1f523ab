// Discovery, network settings, the return address, MAC changes and queries
// and ping against simulated controllers on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "doorlink/doorlink.h"
#include "platform/net.h"
#include "platform/profile.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using doorsim::Bytes;
using testing::elapsed_ms;

using testing::kAck;

std::string registry_file() {
    const char* home = std::getenv("DOORLINK_HOME");
    return std::string(home ? home : ".") + "/eqminfo.ini";
}

std::string registry(const std::string& section, const std::string& key) {
    char text[64];
    platform::profile_read_string(section.c_str(), key.c_str(), nullptr, text, sizeof text,
                                  registry_file().c_str());
    return text;
}

void put(const std::string& section, const std::string& key, const std::string& value) {
    platform::profile_write_string(section.c_str(), key.c_str(), value.c_str(), registry_file().c_str());
}

// A settings record: new address, time value, image mode, device, mask, gateway.
std::array<uint8_t, 15> record(const std::string& address, uint8_t time, uint8_t image, uint8_t device) {
    std::array<uint8_t, 15> r{};
    uint32_t a = platform::ipv4_from_text(address.c_str());
    std::memcpy(r.data(), &a, 4);
    r[4] = time;
    r[5] = image;
    r[6] = device;
    const uint8_t rest[8] = {255, 0, 0, 0, 127, 0, 0, 1};
    std::memcpy(r.data() + 7, rest, 8);
    return r;
}

class Devices : public testing::SimulatedController {};

TEST_F(Devices, UnicastDiscoveryRecordsTheControllerFromFiveRequests) {
    sim.update_state(id, [](doorsim::ControllerState& s) {
        s.deviceNumber = 9;
        s.mask = {255, 255, 0, 0};
        s.gateway = {127, 0, 0, 1};
        s.imageMode = 3;
        s.timeValue = 42;
    });
    int32_t result = -5;
    long ms = elapsed_ms([&] { result = FindEqm(address.c_str(), 0); });
    // Five replies are accepted; the first adds entry 1, the four others read
    // a count of 1 and rewrite it.
    EXPECT_EQ(result, 1);
    auto got = received();
    ASSERT_EQ(got.size(), 5u);
    for (const auto& d : got) EXPECT_EQ(d.bytes, (Bytes{0x48, 0x84, 0x94, 0x04, 0x44, 0x00}));
    EXPECT_EQ(registry("EqmTotal", "EqmTotal"), "1");
    EXPECT_EQ(registry("EqmIP", "EqmIP1"), address);
    EXPECT_EQ(registry("EqmNO", "EqmNo1"), "9");
    EXPECT_EQ(registry("EqmNet", "EqmNet1"), "255.255.0.0");
    EXPECT_EQ(registry("EqmGate", "EqmGate1"), "127.0.0.1");
    EXPECT_EQ(registry("EqmTime", "EqmTime1"), "42");
    EXPECT_EQ(registry("EqmImg", "EqmImg1"), "3");
    // Six failed receives of about 2 seconds each end the call.
    EXPECT_GE(ms, 10000);
    EXPECT_LT(ms, 40000);
}

TEST_F(Devices, DiscoveryIgnoresInvalidRepliesAndKeysEntriesByTheReplyContent) {
    Bytes valid = {0x48, 0x84, 0x94, 0x04, 0x44, 5, 192, 0, 2, 9, 2, 7};
    valid.resize(36, 0);
    sim.set_script(id, [valid](const doorsim::Datagram&, doorsim::ControllerState&) {
        Bytes shortOne(valid.begin(), valid.end() - 1);
        Bytes longOne = valid;
        longOne.push_back(0);
        Bytes noDevice = valid;
        noDevice[5] = 0;
        return std::optional<std::vector<Bytes>>({shortOne, noDevice, longOne, valid});
    });
    // Any flag other than 1 asks the one address.
    EXPECT_EQ(FindEqm(address.c_str(), 2), 1);
    EXPECT_EQ(received().size(), 5u);
    EXPECT_EQ(registry("EqmTotal", "EqmTotal"), "1");
    EXPECT_EQ(registry("EqmIP", "EqmIP1"), "192.0.2.9");
    EXPECT_EQ(registry("EqmNO", "EqmNo1"), "5");
    EXPECT_EQ(registry("EqmImg", "EqmImg1"), "2");
}

TEST_F(Devices, InvalidArgumentsAreRefusedBeforeAnyDatagram) {
    auto ok = record(address, 0, 1, 1);
    for (auto [time, device] : {std::pair<uint8_t, uint8_t>{61, 1}, {98, 1}, {0, 0}, {0, 255}}) {
        auto bad = record(address, time, 1, device);
        EXPECT_EQ(modifyEqm(bad.data(), address.c_str(), mac.c_str()), 0u) << int(time) << " " << int(device);
    }
    EXPECT_EQ(modifyEqm(ok.data(), address.c_str(), "00a0c900000G"), 0u);
    EXPECT_EQ(modifyEqm(nullptr, address.c_str(), mac.c_str()), 0u);
    EXPECT_EQ(modifyEqm(ok.data(), nullptr, mac.c_str()), 0u);
    uint32_t cell = 77;
    EXPECT_EQ(DoorTransIP(address.c_str(), &cell, "00a0c90000011"), 0u);
    EXPECT_EQ(DoorTransIP(address.c_str(), nullptr, mac.c_str()), 0u);
    EXPECT_EQ(cell, 77u);
    char out[13] = {};
    const uint8_t newMac[6] = {2, 0, 0, 0, 0, 1};
    EXPECT_EQ(SetMacAddr(address.c_str(), nullptr, out), 0u);
    EXPECT_EQ(SetMacAddr(address.c_str(), newMac, nullptr), 0u);
    char first[13] = "0123456789A";  // 11 characters
    char second[13] = {};
    EXPECT_EQ(MacInfo(address.c_str(), 2, first, second), 0u);
    EXPECT_EQ(MacInfo(address.c_str(), 3, first, nullptr), 0u);
    std::strcpy(second, "00a0c9-00001");
    EXPECT_EQ(MacInfo(address.c_str(), 3, first, second), 0u);
    EXPECT_EQ(FindEqm(nullptr, 0), 0);
    EXPECT_EQ(Ping(nullptr), 0u);
    EXPECT_EQ(Ping("not an address"), 0u);
    EXPECT_EQ(sim.received_count(id), 0u);
}

TEST_F(Devices, SettingsMoveTheControllerAndUpdateTheEntryOfItsOldAddress) {
    put("EqmIP", "EqmIP1", "127.0.0.250");
    put("EqmIP", "EqmIP2", address);
    put("EqmIP", "EqmIP3", "127.0.0.251");
    put("EqmTotal", "EqmTotal", "3");
    const std::string moved = doorsim::find_free_loopback_address();
    ASSERT_FALSE(moved.empty());
    ASSERT_NE(moved, address);

    auto settings = record(moved, 99, 5, 254);
    ASSERT_EQ(modifyEqm(settings.data(), address.c_str(), mac.c_str()), 1u);
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 48u);
    EXPECT_EQ(Bytes(got[0].bytes.begin() + 5, got[0].bytes.begin() + 20),
              Bytes(settings.begin(), settings.end()));
    EXPECT_EQ(got[0].bytes[10], 5);  // the image mode goes out as given

    EXPECT_EQ(registry("EqmIP", "EqmIP2"), moved);
    EXPECT_EQ(registry("EqmNO", "EqmNo2"), "254");
    EXPECT_EQ(registry("EqmTime", "EqmTime2"), "99");
    EXPECT_EQ(registry("EqmImg", "EqmImg2"), "1");  // but is recorded as 1
    EXPECT_EQ(registry("EqmNet", "EqmNet2"), "255.0.0.0");
    EXPECT_EQ(registry("EqmGate", "EqmGate2"), "127.0.0.1");
    EXPECT_EQ(registry("EqmIP", "EqmIP1"), "127.0.0.250");
    EXPECT_EQ(registry("EqmTotal", "EqmTotal"), "3");

    // The controller now answers at its new address.
    EXPECT_EQ(sim.state(id).address, moved);
    char text[18];
    uint32_t weekDay;
    EXPECT_EQ(DoorShowTime(moved.c_str(), text, &weekDay, mac.c_str()), 1u);
}

TEST_F(Devices, SettingsOfAnUnregisteredAddressGoBeyondTheTotal) {
    put("EqmIP", "EqmIP1", "127.0.0.250");
    put("EqmTotal", "EqmTotal", "1");
    auto settings = record(address, 60, 2, 3);
    ASSERT_EQ(modifyEqm(settings.data(), address.c_str(), mac.c_str()), 1u);
    EXPECT_EQ(registry("EqmIP", "EqmIP2"), address);
    EXPECT_EQ(registry("EqmNO", "EqmNo2"), "3");
    EXPECT_EQ(registry("EqmImg", "EqmImg2"), "2");
    EXPECT_EQ(registry("EqmTotal", "EqmTotal"), "1");
}

TEST_F(Devices, SettingsLookupSearchesEveryEntryUpToTheTotal) {
    for (int i = 1; i <= 60; ++i)
        put("EqmIP", "EqmIP" + std::to_string(i), i == 55 ? address : "127.1.1." + std::to_string(i));
    put("EqmTotal", "EqmTotal", "60");
    auto settings = record(address, 1, 1, 8);
    ASSERT_EQ(modifyEqm(settings.data(), address.c_str(), mac.c_str()), 1u);
    EXPECT_EQ(registry("EqmNO", "EqmNo55"), "8");
    EXPECT_EQ(registry("EqmIP", "EqmIP61"), "");
}

TEST_F(Devices, ReturnAddressCarriesTheBoundPortAndLeavesTheSocketToTheCaller) {
    uint32_t cell = 0;
    ASSERT_EQ(DoorTransIP(address.c_str(), &cell, mac.c_str()), 1u);
    ASSERT_NE(cell, 0u);
    const uint16_t port = platform::socket_local_port(cell);
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    const Bytes& r = got[0].bytes;
    ASSERT_EQ(r.size(), 30u);
    EXPECT_EQ(r[10] << 8 | r[11], port);
    EXPECT_EQ(r[22] << 8 | r[23], port);
    EXPECT_EQ(got[0].fromPort, port);
    EXPECT_EQ(r[6], 127);  // a controller on loopback is told a loopback address
    EXPECT_EQ(Bytes(r.begin() + 6, r.begin() + 12), Bytes(r.begin() + 18, r.begin() + 24));
    auto m = sim.mac(id);
    EXPECT_EQ(Bytes(r.begin() + 12, r.begin() + 18), Bytes(m.begin(), m.end()));

    // The controller pushes to that socket, which is still open.
    auto monitor = sim.state(id).monitor;
    EXPECT_TRUE(monitor.set);
    EXPECT_EQ(monitor.port, port);
    ASSERT_TRUE(sim.push(id, {0x11, 0x22, 0x33}));
    ASSERT_TRUE(platform::socket_wait(cell, false, 2000));
    uint8_t buffer[16];
    platform::Endpoint from;
    EXPECT_EQ(platform::socket_receive_from(cell, buffer, sizeof buffer, from), 3);
    EXPECT_EQ(buffer[0], 0x11);
    platform::socket_close(cell);

    // A silent controller: no socket stays behind and the cell is untouched.
    doorsim::Faults silent;
    silent.silent = true;
    sim.set_faults(id, silent);
    uint32_t untouched = 5;
    EXPECT_EQ(DoorTransIP(address.c_str(), &untouched, mac.c_str()), 0u);
    EXPECT_EQ(untouched, 5u);
}

TEST_F(Devices, SetMacAddrChangesTheMacAndPrintsWhatTheReplyCarries) {
    const uint8_t newMac[6] = {0x02, 0xAB, 0xCD, 0x00, 0x00, 0x07};
    char out[13] = {};
    ASSERT_EQ(SetMacAddr(address.c_str(), newMac, out), 1u);
    EXPECT_STREQ(out, "02abcd000007");
    EXPECT_EQ(sim.mac_text(id), "02abcd000007");
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes.size(), 18u);

    // The text is the MAC in the reply, whatever was sent.
    sim.set_script(id, [](const doorsim::Datagram&, doorsim::ControllerState&) {
        Bytes reply = kAck;
        reply.insert(reply.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01});
        return std::optional<std::vector<Bytes>>({reply});
    });
    ASSERT_EQ(SetMacAddr(address.c_str(), newMac, out), 1u);
    EXPECT_STREQ(out, "deadbeef0001");
}

TEST_F(Devices, MacInfoChangesAndQueriesWithOneRequestEach) {
    char first[13] = {};
    char second[13] = {};
    std::strcpy(second, mac.c_str());
    ASSERT_EQ(MacInfo(address.c_str(), 3, first, second), 1u);
    EXPECT_EQ(std::string(first), mac);

    std::strcpy(first, "0123456789AB");
    second[0] = '\0';
    ASSERT_EQ(MacInfo(address.c_str(), 2, first, second), 1u);
    EXPECT_STREQ(second, "547698BADCFE");
    EXPECT_EQ(sim.mac_text(id), "0123456789ab");

    // A piece that is not hexadecimal is converted as far as it goes; the
    // serial number text then stays empty.
    std::strcpy(first, "0123456789AG");
    std::strcpy(second, "x");
    ASSERT_EQ(MacInfo(address.c_str(), 2, first, second), 1u);
    EXPECT_STREQ(second, "");
    EXPECT_EQ(sim.mac_text(id), "01234567890a");

    auto got = received();
    ASSERT_EQ(got.size(), 3u);
    for (const auto& d : got) EXPECT_EQ(d.bytes.size(), 30u);
    EXPECT_EQ(Bytes(got[0].bytes.begin(), got[0].bytes.begin() + 6),
              (Bytes{0x34, 0x43, 0x53, 0x63, 0x99, 0x03}));
}

TEST_F(Devices, MacInfoTakesTheFirstReplyAsItComes) {
    sim.set_script(id, [](const doorsim::Datagram&, doorsim::ControllerState&) {
        return std::optional<std::vector<Bytes>>({Bytes{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01}});
    });
    char first[13] = {};
    char second[13] = {};
    std::strcpy(second, mac.c_str());
    // Mode 3 takes any reply; mode 2 needs the acknowledgement and does not resend.
    EXPECT_EQ(MacInfo(address.c_str(), 3, first, second), 1u);
    EXPECT_STREQ(first, "aabbccddeeff");
    std::strcpy(first, "0123456789AB");
    second[0] = '\0';
    EXPECT_EQ(MacInfo(address.c_str(), 2, first, second), 0u);
    EXPECT_STREQ(second, "");
    EXPECT_EQ(sim.received_count(id), 2u);

    // Any other mode sends 30 zero bytes and fails whatever comes back.
    sim.set_script(id, [](const doorsim::Datagram&, doorsim::ControllerState&) {
        return std::optional<std::vector<Bytes>>({kAck});
    });
    EXPECT_EQ(MacInfo(address.c_str(), 7, first, second), 0u);
    auto got = received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2].bytes, Bytes(30, 0));
}

TEST(DevicesPing, LocalAddressAnswersAndTheStatusFileTellsHow) {
    testing::TempDir dir;
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const uint32_t result = Ping("127.0.0.1");
    if (result == 0 && ::geteuid() != 0) {
        GTEST_SKIP() << "no raw ICMP socket and no unprivileged ICMP socket for this user";
    }
    ASSERT_EQ(result, 1u);
    std::ifstream in(dir.file("ping.ini"));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("[PingStatue]"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("PingStatue1=64 bytes from 127.0.0.1:icmp_seq = 0.time: "), std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find(" ms\n"), std::string::npos);
}

}  // namespace
}  // namespace doorlink
