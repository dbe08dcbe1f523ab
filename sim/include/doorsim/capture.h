// A capture file of the datagrams a simulator receives and sends, in the
// classic libpcap format that Wireshark and tshark open: each datagram as an
// IPv4 packet (link type "raw IP") with synthesized IPv4 and UDP headers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace doorsim {

class PacketCapture {
public:
    PacketCapture() = default;
    ~PacketCapture();
    PacketCapture(const PacketCapture&) = delete;
    PacketCapture& operator=(const PacketCapture&) = delete;

    // Starts a new capture file at path (replacing one that is there) and
    // writes its header; false when the file cannot be written.
    bool open(const std::string& path);
    void close();
    bool is_open() const;

    // Appends one UDP datagram from source to destination (addresses and
    // ports in network byte order, as in sockaddr_in), stamped with the
    // current time. Safe from any thread; each packet is flushed at once.
    void record(uint32_t sourceAddress, uint16_t sourcePort, uint32_t destinationAddress,
                uint16_t destinationPort, const std::vector<uint8_t>& payload);

    // The packet record without its time: the IPv4 and UDP headers and the
    // payload, cut to what one IPv4 packet can carry.
    static std::vector<uint8_t> packet(uint32_t sourceAddress, uint16_t sourcePort,
                                       uint32_t destinationAddress, uint16_t destinationPort,
                                       const std::vector<uint8_t>& payload, uint16_t identification);

private:
    mutable std::mutex lock_;
    std::FILE* file_ = nullptr;
    uint16_t identification_ = 0;
};

}  // namespace doorsim
