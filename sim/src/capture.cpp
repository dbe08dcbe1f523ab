#include "doorsim/capture.h"

#include <chrono>

namespace doorsim {
namespace {

// The file header: magic number (microsecond stamps), version 2.4, time zone
// and accuracy 0, snapshot length, link type 101 (raw IPv4 or IPv6).
constexpr uint32_t kMagic = 0xA1B2C3D4;
constexpr uint16_t kVersionMajor = 2;
constexpr uint16_t kVersionMinor = 4;
constexpr uint32_t kSnapshotLength = 65535;
constexpr uint32_t kLinkTypeRaw = 101;

constexpr size_t kIpHeader = 20;
constexpr size_t kUdpHeader = 8;
constexpr size_t kMaxPayload = 65535 - kIpHeader - kUdpHeader;
constexpr uint8_t kTimeToLive = 64;
constexpr uint8_t kProtocolUdp = 17;

// The file's own numbers are written in the host's byte order, which the
// magic number tells a reader.
template <typename T>
void put_native(std::vector<uint8_t>& out, T value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

void put_be16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value >> 8 & 0xFF);
    out[at + 1] = static_cast<uint8_t>(value & 0xFF);
}

// Copies a value already in network byte order, byte for byte.
template <typename T>
void put_raw(std::vector<uint8_t>& out, size_t at, T value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    for (size_t i = 0; i < sizeof value; ++i) out[at + i] = bytes[i];
}

uint16_t ip_checksum(const std::vector<uint8_t>& header) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < kIpHeader; i += 2)
        sum += static_cast<uint32_t>(header[i] << 8 | header[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

}  // namespace

PacketCapture::~PacketCapture() { close(); }

bool PacketCapture::open(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (file_) (void)std::fclose(file_);  // the capture before, ended
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    std::vector<uint8_t> header;
    put_native(header, kMagic);
    put_native(header, kVersionMajor);
    put_native(header, kVersionMinor);
    put_native(header, int32_t{0});
    put_native(header, uint32_t{0});
    put_native(header, kSnapshotLength);
    put_native(header, kLinkTypeRaw);
    const bool ok =
        std::fwrite(header.data(), 1, header.size(), file_) == header.size() && std::fflush(file_) == 0;
    if (!ok) {
        (void)std::fclose(file_);  // already failed
        file_ = nullptr;
    }
    return ok;
}

void PacketCapture::close() {
    std::lock_guard<std::mutex> guard(lock_);
    if (file_) (void)std::fclose(file_);  // each record was flushed when written
    file_ = nullptr;
}

bool PacketCapture::is_open() const {
    std::lock_guard<std::mutex> guard(lock_);
    return file_ != nullptr;
}

std::vector<uint8_t> PacketCapture::packet(uint32_t sourceAddress, uint16_t sourcePort,
                                           uint32_t destinationAddress, uint16_t destinationPort,
                                           const std::vector<uint8_t>& payload, uint16_t identification) {
    const size_t length = payload.size() < kMaxPayload ? payload.size() : kMaxPayload;
    std::vector<uint8_t> out(kIpHeader + kUdpHeader, 0);
    out[0] = 0x45;  // version 4, header of five 32-bit words
    put_be16(out, 2, static_cast<uint32_t>(kIpHeader + kUdpHeader + length));
    put_be16(out, 4, identification);
    out[6] = 0x40;  // do not fragment
    out[8] = kTimeToLive;
    out[9] = kProtocolUdp;
    put_raw(out, 12, sourceAddress);
    put_raw(out, 16, destinationAddress);
    put_be16(out, 10, ip_checksum(out));
    put_raw(out, kIpHeader, sourcePort);
    put_raw(out, kIpHeader + 2, destinationPort);
    put_be16(out, kIpHeader + 4, static_cast<uint32_t>(kUdpHeader + length));
    // UDP checksum 0: none computed, which IPv4 allows.
    out.insert(out.end(), payload.begin(), payload.begin() + static_cast<long>(length));
    return out;
}

void PacketCapture::record(uint32_t sourceAddress, uint16_t sourcePort, uint32_t destinationAddress,
                           uint16_t destinationPort, const std::vector<uint8_t>& payload) {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(since).count();
    std::lock_guard<std::mutex> guard(lock_);
    if (!file_) return;
    const std::vector<uint8_t> body =
        packet(sourceAddress, sourcePort, destinationAddress, destinationPort, payload, identification_++);
    std::vector<uint8_t> record;
    put_native(record, static_cast<uint32_t>(micro / 1000000));
    put_native(record, static_cast<uint32_t>(micro % 1000000));
    put_native(record, static_cast<uint32_t>(body.size()));
    put_native(record, static_cast<uint32_t>(body.size()));
    record.insert(record.end(), body.begin(), body.end());
    // A capture that cannot be written loses the record; the simulation goes on.
    (void)std::fwrite(record.data(), 1, record.size(), file_);
    (void)std::fflush(file_);
}

}  // namespace doorsim
