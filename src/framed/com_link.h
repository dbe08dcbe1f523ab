// The link object behind SysComInter: it wraps a command byte and payload in
// a command frame, sends it to the controller over its own UDP channel and
// takes the first reply frame that answers it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace doorlink::framed {

struct LinkSettings {
    uint16_t node = 0;
    uint16_t reserved = 0;
    std::string address;
    uint32_t port = 9000;
};

// Request frame: head, payload length L, reserved number, node number, four
// zeros, station, three zeros, command byte, payload, four zeros.
constexpr uint8_t kRequestHead[2] = {0xA3, 0xA8};
constexpr uint16_t kReplyHead = 0xD3D8;
constexpr size_t kLengthAt = 2;
constexpr size_t kReservedAt = 4;
constexpr size_t kNodeAt = 6;
constexpr size_t kStationAt = 12;
constexpr size_t kCommandAt = 17;
constexpr size_t kPayloadAt = 18;
constexpr size_t kFrameOverhead = 22;
constexpr uint8_t kReplyMark = 0x01;  // byte 17 of every reply frame
constexpr int kRepetitions = 10;
constexpr int kReplyCapacity = 1024;

// The caller's command block: command byte, L (high byte first), payload.
constexpr size_t kBlockLengthAt = 1;
constexpr size_t kBlockPayloadAt = 3;

// The request frame for a command block.
std::vector<uint8_t> BuildCommandFrame(const LinkSettings& settings, const uint8_t station[2],
                                       const uint8_t* commandBlock);

class ComLink {
public:
    explicit ComLink(LinkSettings settings) : settings_(std::move(settings)) {}
    virtual ~ComLink() = default;
    ComLink(const ComLink&) = delete;
    ComLink& operator=(const ComLink&) = delete;

    // One command: 1 with the answer block filled, else 0.
    virtual int Exchange(const uint8_t station[2], const uint8_t* commandBlock, uint8_t* answer);
    // Whether a reply frame carries the head, this link's node and reserved
    // numbers, the station and byte 17 expected. Never reads beyond count.
    virtual bool CheckReply(int count, const uint8_t* reply, uint16_t head, uint16_t station,
                            uint8_t mark) const;

    void SetRange(uint16_t start, uint16_t end) {
        rangeSet_ = true;
        rangeStart_ = start;
        rangeEnd_ = end;
    }

private:
    LinkSettings settings_;
    bool rangeSet_ = false;
    uint16_t rangeStart_ = 9000;
    uint16_t rangeEnd_ = 18000;
};

}  // namespace doorlink::framed
