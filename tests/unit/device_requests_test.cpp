// Request layouts of the network settings and MAC commands, the settings
// limits, and the serial number of a MAC.
#include <gtest/gtest.h>

#include "devices/mac_serial.h"
#include "devices/network_settings.h"
#include "doorlink/doorlink.h"
#include "platform/net.h"
#include "support/fake_transport.h"

namespace doorlink {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::kMac;

std::string serial_of(const char* mac, uint32_t* result = nullptr) {
    char out[13] = "untouched";
    uint32_t r = TransMacToSerialNo(mac, out);
    if (result) *result = r;
    return out;
}

TEST(SerialNumber, ReversedComplementedUpperCasePairs) {
    uint32_t result = 0;
    EXPECT_EQ(serial_of("0123456789AB", &result), "547698BADCFE");
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(serial_of("0123456789ab", &result), "547698BADCFE");
    EXPECT_EQ(serial_of("000000000000"), "FFFFFFFFFFFF");
    EXPECT_EQ(serial_of("00a0c9123456"), "A9CBED365FFF");
}

TEST(SerialNumber, InvalidTextsGiveZeroAndAnEmptyOutput) {
    for (const char* bad : {"0123456789A", "0123456789ABC", "0123456789AG", "G123456789AB", ""}) {
        uint32_t result = 7;
        EXPECT_EQ(serial_of(bad, &result), "") << bad;
        EXPECT_EQ(result, 0u) << bad;
    }
    uint32_t result = 7;
    EXPECT_EQ(serial_of(nullptr, &result), "");
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(TransMacToSerialNo("0123456789AB", nullptr), 0u);
}

TEST(MacChange, PairsAreReadAsStrtolReadsThem) {
    EXPECT_EQ(devices::mac_from_pairs("00a0C9ffEE01"), (core::Mac{0x00, 0xA0, 0xC9, 0xFF, 0xEE, 0x01}));
    // A pair stops at its first non-digit; one without a leading digit is 0.
    EXPECT_EQ(devices::mac_from_pairs("0123456789AG"), (core::Mac{0x01, 0x23, 0x45, 0x67, 0x89, 0x0A}));
    EXPECT_EQ(devices::mac_from_pairs("GG23456789AB"), (core::Mac{0x00, 0x23, 0x45, 0x67, 0x89, 0xAB}));
}

TEST(MacChange, RequestCarriesTheNewMacTwice) {
    uint8_t request[30];
    std::memset(request, 0x55, sizeof request);
    devices::write_mac_change_request(request, sizeof request, kMac.data());
    Bytes head(request, request + 18);
    EXPECT_EQ(head, (Bytes{0x13, 0x66, 0x60, 0x90, 0x77, 0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56, 0x00, 0xA0, 0xC9,
                           0x12, 0x34, 0x56, 0x00}));
}

TEST(NetworkSettings, LimitsOfTimeValueAndDeviceNumber) {
    uint8_t record[15] = {10, 0, 0, 5, 0, 1, 1};
    auto valid = [&](uint8_t time, uint8_t device) {
        record[4] = time;
        record[6] = device;
        return devices::settings_record_valid(record);
    };
    EXPECT_TRUE(valid(0, 1));
    EXPECT_TRUE(valid(60, 254));
    EXPECT_TRUE(valid(99, 1));
    EXPECT_FALSE(valid(61, 1));
    EXPECT_FALSE(valid(98, 1));
    EXPECT_FALSE(valid(100, 1));
    EXPECT_FALSE(valid(0, 0));
    EXPECT_FALSE(valid(0, 255));
}

TEST(NetworkSettings, RequestCarriesRecordAndMacTwice) {
    const uint8_t record[15] = {10, 0, 0, 5, 30, 5, 7, 255, 255, 255, 0, 10, 0, 0, 1};
    auto r = devices::build_settings_request(record, kMac);
    Bytes expectedHalf(record, record + 15);
    expectedHalf.insert(expectedHalf.end(), kMac.begin(), kMac.end());
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{0x44, 0x44, 0x54, 0x64, 0x00}));
    EXPECT_EQ(Bytes(r.begin() + 5, r.begin() + 26), expectedHalf);
    EXPECT_EQ(Bytes(r.begin() + 26, r.begin() + 47), expectedHalf);
    EXPECT_EQ(r[47], 0x00);
}

TEST(NetworkSettings, ReturnAddressRequestCarriesAddressPortAndMacTwice) {
    auto r = devices::build_return_address_request(platform::ipv4_from_text("192.0.2.10"), 0x2345, kMac);
    Bytes half = {192, 0, 2, 10, 0x23, 0x45, 0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56};
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 6), (Bytes{0x61, 0x16, 0x26, 0x36, 0x99, 0x00}));
    EXPECT_EQ(Bytes(r.begin() + 6, r.begin() + 18), half);
    EXPECT_EQ(Bytes(r.begin() + 18, r.begin() + 30), half);
}

}  // namespace
}  // namespace doorlink
