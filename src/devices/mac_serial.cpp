// SetMacAddr and MacInfo give a controller a new MAC or ask it for its MAC;
// TransMacToSerialNo derives the serial number text of a MAC.
#include "devices/mac_serial.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/exchange.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"

namespace doorlink::devices {
namespace {

// MAC change: the code, the new MAC twice, a zero (MacInfo pads to 30 bytes).
constexpr uint8_t kMacChangeCode[5] = {0x13, 0x66, 0x60, 0x90, 0x77};
constexpr size_t kNewMacAt = 5;
constexpr size_t kNewMacAgainAt = 11;
constexpr size_t kReplyMacAt = 10;  // in SetMacAddr's positive reply

// MAC query: "4CSc", 0x99, 0x03, the controller's MAC, zeros.
constexpr uint8_t kMacQueryCode[4] = {0x34, 0x43, 0x53, 0x63};
constexpr uint8_t kMacQuerySubCode = 0x99;
constexpr uint8_t kMacQuerySelector = 0x03;
constexpr size_t kQueryMacAt = 6;

constexpr int kReplyCapacity = 1024;
constexpr int kModeChange = 2;
constexpr int kModeQuery = 3;

void print_mac(char* out, const uint8_t* bytes) {
    std::snprintf(out, 13, "%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
                  bytes[5]);
}

// MacInfo sends once and takes the first datagram, good or not: a single
// request and receive, without the exchange's resends.
int send_once_and_receive(core::Transport& transport, const char* address, const uint8_t* request, int length,
                          uint8_t* reply) {
    uint16_t localPort = 0;
    core::SocketHandle socket = transport.open(localPort);
    if (socket == 0) return -1;
    core::Endpoint controller = core::MakeControllerAddress(address);
    int received = -1;
    if (transport.send(socket, request, length, controller) != -1) {
        received = transport.receive(socket, reply, kReplyCapacity, controller);
    }
    transport.close(socket);
    return received;
}

}  // namespace

uint32_t MacToSerialNo(const char* macText, char* serial) {
    serial[0] = '\0';
    if (!macText || std::strlen(macText) != 12) return 0;
    uint8_t bytes[6];
    for (int pair = 0; pair < 6; ++pair) {
        // The last pair of the MAC comes first.
        const char* digits = macText + static_cast<ptrdiff_t>(2 * (5 - pair));
        const int high = core::hex_digit_value(digits[0]);
        const int low = core::hex_digit_value(digits[1]);
        if (high < 0 || low < 0) return 0;
        bytes[pair] = static_cast<uint8_t>(255 - (16 * high + low));
    }
    char text[13];
    print_mac(text, bytes);
    for (int i = 0; i < 12; ++i)
        text[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    std::memcpy(serial, text, 13);
    return 1;
}

void write_mac_change_request(uint8_t* request, size_t size, const uint8_t* newMac) {
    core::ByteWriter(request, size)
        .bytes(0, kMacChangeCode, 5)
        .bytes(kNewMacAt, newMac, 6)
        .bytes(kNewMacAgainAt, newMac, 6)
        .u8(17, 0x00);
}

core::Mac mac_from_pairs(const char* text) {
    core::Mac mac{};
    for (size_t i = 0; i < 6; ++i) {
        const char piece[3] = {text[2 * i], text[2 * i + 1], '\0'};
        mac[i] = static_cast<uint8_t>(std::strtol(piece, nullptr, 16));
    }
    return mac;
}

}  // namespace doorlink::devices

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL SetMacAddr(const char* address, const uint8_t* newMac,
                                                          char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!address || !newMac || !macText) return 0;
        std::array<uint8_t, devices::kSetMacRequestLength> request{};
        devices::write_mac_change_request(request.data(), request.size(), newMac);
        core::ExchangeProfile profile;  // acknowledgement, no waits
        auto show = [&](const core::Reply& reply) {
            uint8_t mac[6];
            reply.buffer.copy(devices::kReplyMacAt, mac, 6);
            devices::print_mac(macText, mac);
            return true;
        };
        return core::RunExchange(core::udp_transport(), address, request, profile, show).result;
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL MacInfo(const char* address, int32_t mode, char* firstText,
                                                       char* secondText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!address) return 0;
        uint8_t request[devices::kMacInfoRequestLength] = {};
        if (mode == devices::kModeChange) {
            if (!firstText || !secondText || std::strlen(firstText) != 12) return 0;
            core::Mac mac = devices::mac_from_pairs(firstText);
            devices::write_mac_change_request(request, sizeof request, mac.data());
        } else if (mode == devices::kModeQuery) {
            core::Mac mac;
            if (!firstText || !core::ParseMacText(secondText, mac)) return 0;
            core::ByteWriter(request, sizeof request)
                .bytes(0, devices::kMacQueryCode, 4)
                .u8(4, devices::kMacQuerySubCode)
                .u8(5, devices::kMacQuerySelector)
                .bytes(devices::kQueryMacAt, mac);
        }
        // Any other mode sends the 30 zero bytes and fails whatever comes back.
        uint8_t reply[devices::kReplyCapacity] = {};
        const int received =
            devices::send_once_and_receive(core::udp_transport(), address, request, sizeof request, reply);
        if (received <= 0) return 0;
        if (mode == devices::kModeChange) {
            if (std::memcmp(reply, core::kAcknowledgement.data(), 10) != 0) return 0;
            devices::MacToSerialNo(firstText, secondText);
            return 1;
        }
        if (mode == devices::kModeQuery) {
            devices::print_mac(firstText, reply);
            return 1;
        }
        return 0;
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL TransMacToSerialNo(const char* macText, char* serial) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!serial) return 0;
        return devices::MacToSerialNo(macText, serial);
    });
}
