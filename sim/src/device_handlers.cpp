// Discovery, network settings, the return address, and MAC changes and
// queries.
#include <arpa/inet.h>

#include <algorithm>

#include "handlers.h"

namespace doorsim {
namespace {

const std::initializer_list<uint8_t> kDiscoverySignature = {0x48, 0x84, 0x94, 0x04, 0x44};

void put_address(Bytes& out, const std::string& dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    const uint32_t value = ntohl(a.s_addr);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

std::string address_text(const Bytes& r, size_t at) {
    return std::to_string(r[at]) + "." + std::to_string(r[at + 1]) + "." + std::to_string(r[at + 2]) + "." +
           std::to_string(r[at + 3]);
}

// Discovery: signature, 0. Every controller that hears it answers with 36
// bytes: signature, device number, address, image mode, time value, mask,
// gateway, then its MAC and zeros.
bool discovery(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, kDiscoverySignature)) return false;
    if (r.size() != 6 || r[5] != 0x00) return true;
    Bytes reply(kDiscoverySignature);
    reply.push_back(state.deviceNumber);
    put_address(reply, state.address);
    reply.push_back(state.imageMode);
    reply.push_back(state.timeValue);
    reply.insert(reply.end(), state.mask.begin(), state.mask.end());
    reply.insert(reply.end(), state.gateway.begin(), state.gateway.end());
    reply.insert(reply.end(), state.mac.begin(), state.mac.end());
    reply.resize(36, 0x00);
    out.reply(std::move(reply));
    return true;
}

// Settings: "DDTd" 0, record (address, time value, image mode, device number,
// mask, gateway), MAC, the record again, the MAC again, 0. A controller given
// a new address moves to it once it has acknowledged.
bool settings(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x44, 0x44, 0x54, 0x64, 0x00})) return false;
    if (r.size() != 48 || !mac_at(r, 20, state) || !mac_at(r, 41, state)) return true;
    if (!std::equal(r.begin() + 5, r.begin() + 20, r.begin() + 26)) return true;
    state.address = address_text(r, 5);
    state.timeValue = r[9];
    state.imageMode = r[10];
    state.deviceNumber = r[11];
    std::copy(r.begin() + 12, r.begin() + 16, state.mask.begin());
    std::copy(r.begin() + 16, r.begin() + 20, state.gateway.begin());
    out.reply(kAcknowledgement);
    return true;
}

// Return address: code, 0x99, 0, host address, port, MAC, and the three again.
// Pushes then go to the port it names at the address the request came from.
bool return_address(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x61, 0x16, 0x26, 0x36, 0x99, 0x00})) return false;
    if (r.size() != 30 || !mac_at(r, 12, state) || !mac_at(r, 24, state)) return true;
    if (!std::equal(r.begin() + 6, r.begin() + 12, r.begin() + 18)) return true;
    state.monitor.set = true;
    state.monitor.address = out.from;
    state.monitor.port = static_cast<uint16_t>(r[10] << 8 | r[11]);
    out.reply(kAcknowledgement);
    return true;
}

// MAC change: code, the new MAC twice, zeros (18 or 30 bytes). The positive
// reply carries the MAC the controller now has.
bool change_mac(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x13, 0x66, 0x60, 0x90, 0x77})) return false;
    if ((r.size() != 18 && r.size() != 30) || !std::equal(r.begin() + 5, r.begin() + 11, r.begin() + 11)) {
        return true;
    }
    std::copy(r.begin() + 5, r.begin() + 11, state.mac.begin());
    Bytes reply = kAcknowledgement;
    reply.insert(reply.end(), state.mac.begin(), state.mac.end());
    out.reply(std::move(reply));
    return true;
}

// MAC query: "4CSc" 0x99 0x03 MAC zeros; the answer starts with the MAC,
// followed by the controller's address.
bool query_mac(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x34, 0x43, 0x53, 0x63, 0x99, 0x03})) return false;
    if (r.size() != 30 || !mac_at(r, 6, state)) return true;
    Bytes reply(state.mac.begin(), state.mac.end());
    put_address(reply, state.address);
    out.reply(std::move(reply));
    return true;
}

}  // namespace

void add_device_handlers(std::vector<Handler>& table) {
    table.push_back(discovery);
    table.push_back(settings);
    table.push_back(return_address);
    table.push_back(change_mac);
    table.push_back(query_mac);
}

}  // namespace doorsim
