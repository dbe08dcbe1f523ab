#include "framed/com_link.h"

#include <cstring>

#include "core/bytes.h"
#include "framed/udp_channel.h"

namespace doorlink::framed {

std::vector<uint8_t> BuildCommandFrame(const LinkSettings& settings, const uint8_t station[2],
                                       const uint8_t* commandBlock) {
    const uint32_t length = commandBlock[kBlockLengthAt] * 256u + commandBlock[kBlockLengthAt + 1];
    std::vector<uint8_t> frame(length + kFrameOverhead, 0);
    core::ByteWriter(frame.data(), frame.size())
        .bytes(0, kRequestHead, 2)
        .u16_be(kLengthAt, length)
        .u16_be(kReservedAt, settings.reserved)
        .u16_be(kNodeAt, settings.node)
        .bytes(kStationAt, station, 2)
        .u8(kCommandAt, commandBlock[0])
        .bytes(kPayloadAt, commandBlock + kBlockPayloadAt, length);
    return frame;
}

bool ComLink::CheckReply(int count, const uint8_t* reply, uint16_t head, uint16_t station,
                         uint8_t mark) const {
    if (!reply || count <= 0) return false;
    core::ByteReader r(reply, static_cast<size_t>(count));
    return r.has(0, kCommandAt + 1) && r.u16_be(0) == head && r.u16_be(kNodeAt) == settings_.node &&
           r.u16_be(kReservedAt) == settings_.reserved && r.u16_be(kStationAt) == station &&
           r.u8(kCommandAt) == mark;
}

int ComLink::Exchange(const uint8_t station[2], const uint8_t* commandBlock, uint8_t* answer) {
    UdpChannel channel;
    channel.SetRemote(settings_.address, settings_.port);
    if (rangeSet_) channel.SetRange(rangeStart_, rangeEnd_);
    uint16_t localPort = 0;
    if (channel.Open(localPort) != 1) return 0;

    const std::vector<uint8_t> request = BuildCommandFrame(settings_, station, commandBlock);
    const uint16_t expectedStation = static_cast<uint16_t>(station[0] << 8 | station[1]);
    uint8_t reply[kReplyCapacity];
    for (int attempt = 0; attempt < kRepetitions; ++attempt) {
        if (channel.Send(request.data(), static_cast<int>(request.size())) < 0) return 0;
        std::string sender;
        uint16_t senderPort = 0;
        const int received = channel.Receive(reply, sizeof reply, sender, senderPort);
        if (received < 0) return 0;
        if (received <= static_cast<int>(kPayloadAt) || reply[kStationAt] != station[0] ||
            reply[kStationAt + 1] != station[1] || sender != settings_.address ||
            !CheckReply(received, reply, kReplyHead, expectedStation, kReplyMark)) {
            continue;
        }
        // A length that promises more than arrived: the reply is cut short
        // and is not taken, as nothing beyond the received bytes may be copied.
        const uint32_t length = reply[kLengthAt] * 256u + reply[kLengthAt + 1];
        if (kPayloadAt + length > static_cast<size_t>(received)) continue;
        answer[0] = reply[kCommandAt];
        answer[1] = reply[kLengthAt];
        answer[2] = reply[kLengthAt + 1];
        if (length) std::memcpy(answer + kBlockPayloadAt, reply + kPayloadAt, length);
        return 1;
    }
    return 0;
}

}  // namespace doorlink::framed
