// modifyEqm gives a controller new address settings and records them in its
// registry entry; DoorTransIP tells it where this host listens and hands the
// open socket to the caller.
#include "devices/network_settings.h"

#include <cstring>
#include <mutex>

#include "core/exchange.h"
#include "core/export_guard.h"
#include "core/library_state.h"
#include "core/paths.h"
#include "core/transport.h"
#include "devices/registry.h"
#include "doorlink/doorlink.h"
#include "platform/net.h"

namespace doorlink::devices {
namespace {

// Settings request: "DDTd", 0, the record, the MAC, the record, the MAC, 0.
constexpr uint8_t kSettingsCode[4] = {0x44, 0x44, 0x54, 0x64};
constexpr size_t kFirstRecordAt = 5;
constexpr size_t kFirstMacAt = 20;
constexpr size_t kSecondRecordAt = 26;
constexpr size_t kSecondMacAt = 41;

// Return-address request: code, 0x99, 0, then address, port and MAC twice.
constexpr uint8_t kReturnAddressCode[4] = {0x61, 0x16, 0x26, 0x36};
constexpr uint8_t kReturnAddressSubCode = 0x99;
constexpr size_t kFirstHostAt = 6;
constexpr size_t kFirstPortAt = 10;
constexpr size_t kFirstReturnMacAt = 12;
constexpr size_t kSecondHostAt = 18;
constexpr size_t kSecondPortAt = 22;
constexpr size_t kSecondReturnMacAt = 24;

constexpr uint8_t kTimeValueLimit = 60;
constexpr uint8_t kTimeValueSpecial = 99;
constexpr size_t kRegistryValueSize = 50;  // each "EqmIP%d" is read into 50 bytes

void write_return_address(core::ByteWriter& w, uint32_t hostAddress, uint16_t port, const core::Mac& mac,
                          size_t hostAt, size_t portAt, size_t macAt) {
    // The socket address holds the address in network order: its bytes are
    // already most significant octet first.
    uint8_t octets[4];
    std::memcpy(octets, &hostAddress, 4);
    w.bytes(hostAt, octets, 4).u16_be(portAt, port).bytes(macAt, mac);
}

void record_settings(const uint8_t* record, const char* currentAddress) {
    RegistryEntry entry;
    entry.address = DottedText(record + kRecordNewAddressAt);
    entry.mask = DottedText(record + kRecordMaskAt);
    entry.gateway = DottedText(record + kRecordGatewayAt);
    entry.deviceNumber = std::to_string(record[kRecordDeviceNumberAt]);
    entry.timeValue = std::to_string(record[kRecordTimeValueAt]);
    entry.imageMode = ImageModeText(record[kRecordImageModeAt]);
    const std::string path = core::registry_path();
    std::lock_guard<platform::Mutex> hold(core::LibraryState::get().lock());
    // The entry is found by the address the request went to, not the new one;
    // "EqmTotal" stays as it is even when no entry matched.
    EntryLookup lookup = FindRegistryEntry(path, currentAddress, kRegistryValueSize);
    WriteRegistryEntry(path, lookup.index, entry, kSettingsKeyOrder);
}

bool is_loopback(uint32_t address) {
    uint8_t octets[4];
    std::memcpy(octets, &address, 4);  // network order: the first octet first
    return octets[0] == 127;
}

// The address this host reaches the controller from; a loopback address only
// for a controller on loopback.
bool return_address(const char* controller, uint32_t& host) {
    const core::Endpoint to = core::MakeControllerAddress(controller);
    return platform::local_ipv4_toward(to, host) && (!is_loopback(host) || is_loopback(to.address));
}

}  // namespace

bool settings_record_valid(const uint8_t* record) {
    const uint8_t time = record[kRecordTimeValueAt];
    const uint8_t device = record[kRecordDeviceNumberAt];
    if (time > kTimeValueLimit && time != kTimeValueSpecial) return false;
    return device != 0 && device != 255;
}

std::array<uint8_t, kSettingsRequestLength> build_settings_request(const uint8_t* record,
                                                                   const core::Mac& mac) {
    std::array<uint8_t, kSettingsRequestLength> request{};
    core::ByteWriter(request)
        .bytes(0, kSettingsCode, 4)
        .u8(4, 0x00)
        .bytes(kFirstRecordAt, record, kSettingsRecordLength)
        .bytes(kFirstMacAt, mac)
        .bytes(kSecondRecordAt, record, kSettingsRecordLength)
        .bytes(kSecondMacAt, mac)
        .u8(kSettingsRequestLength - 1, 0x00);
    return request;
}

std::array<uint8_t, kReturnAddressRequestLength> build_return_address_request(uint32_t hostAddress,
                                                                              uint16_t localPort,
                                                                              const core::Mac& mac) {
    std::array<uint8_t, kReturnAddressRequestLength> request{};
    core::ByteWriter w(request);
    w.bytes(0, kReturnAddressCode, 4).u8(4, kReturnAddressSubCode).u8(5, 0x00);
    write_return_address(w, hostAddress, localPort, mac, kFirstHostAt, kFirstPortAt, kFirstReturnMacAt);
    write_return_address(w, hostAddress, localPort, mac, kSecondHostAt, kSecondPortAt, kSecondReturnMacAt);
    return request;
}

}  // namespace doorlink::devices

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL modifyEqm(const uint8_t* settings, const char* address,
                                                         const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!core::ParseMacText(macText, mac)) return 0;
        if (!settings || !address || !devices::settings_record_valid(settings)) return 0;
        auto request = devices::build_settings_request(settings, mac);
        core::ExchangeProfile profile;  // acknowledgement, no waits
        if (core::RunExchange(core::udp_transport(), address, request, profile).result != 1) {
            return 0;
        }
        devices::record_settings(settings, address);
        return 1;
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorTransIP(const char* address, uint32_t* socketHandle,
                                                           const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!core::ParseMacText(macText, mac)) return 0;
        if (!address || !socketHandle) return 0;
        core::ExchangeProfile profile;
        profile.socketToCaller = true;
        // The request carries the port the socket was bound to, so it is built
        // once the socket is open; without an address of this host that
        // reaches the controller nothing is sent.
        auto build = [&](uint16_t localPort, core::ByteWriter& w) -> int {
            uint32_t host = 0;
            if (!devices::return_address(address, host)) return 0;
            auto request = devices::build_return_address_request(host, localPort, mac);
            w.bytes(0, request);
            return static_cast<int>(request.size());
        };
        core::ExchangeOutcome outcome =
            core::RunExchange(core::udp_transport(), address, profile, core::RequestBuilder(build));
        if (outcome.result != 1) return 0;
        *socketHandle = outcome.socket;
        return 1;
    });
}
