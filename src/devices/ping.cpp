#include "devices/ping.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "core/bytes.h"
#include "core/export_guard.h"
#include "core/paths.h"
#include "doorlink/doorlink.h"
#include "platform/clock.h"
#include "platform/icmp.h"
#include "platform/net.h"
#include "platform/profile.h"

namespace doorlink::devices {
namespace {

// Echo request; its multi-byte fields are stored least significant byte first.
constexpr uint8_t kEchoRequestType = 8;
constexpr uint8_t kEchoReplyType = 0;
constexpr size_t kChecksumAt = 2;
constexpr size_t kIdentifierAt = 4;
constexpr size_t kSequenceAt = 6;
constexpr size_t kTickAt = 8;
constexpr size_t kFillAt = 12;
constexpr uint8_t kFill = 0x65;  // 'e'

// The received datagram: a 20-byte IPv4 header (its length field is not
// read), then the ICMP message.
constexpr size_t kReplyTypeAt = 20;
constexpr size_t kReplyIdentifierAt = 24;
constexpr size_t kReplySequenceAt = 26;
constexpr size_t kReplyTickAt = 28;
constexpr int kShortestReply = 32;

// An ICMP error message quotes the IPv4 header and the first 8 bytes of the
// datagram it is about, from offset 28 of what was received.
constexpr size_t kQuotedHeaderAt = 28;
constexpr size_t kQuotedProtocolAt = 9;      // within the quoted header
constexpr size_t kQuotedDestinationAt = 16;  // within the quoted header
constexpr uint8_t kIcmpProtocol = 1;
constexpr size_t kQuotedMessageLength = 8;
// Destination unreachable, source quench, redirect, time exceeded, parameter
// problem: the messages that quote a datagram.
constexpr uint8_t kQuotingTypes[] = {3, 4, 5, 11, 12};

constexpr const char* kStatusSection = "PingStatue";

void put_u16_le(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}
void put_u32_le(uint8_t* at, uint32_t value) {
    put_u16_le(at, value & 0xFFFF);
    put_u16_le(at + 2, value >> 16);
}
uint32_t get_u16_le(const uint8_t* at) { return at[0] | static_cast<uint32_t>(at[1]) << 8; }
uint32_t get_u32_le(const uint8_t* at) { return get_u16_le(at) | get_u16_le(at + 2) << 16; }
uint32_t get_address(const uint8_t* at) {
    uint32_t address;
    std::memcpy(&address, at, 4);  // network order, as the socket layer holds it
    return address;
}

// This call: its identifier, the address it pings and how many requests it
// has sent (sequence numbers 0 to sent - 1).
struct Call {
    uint32_t identifier = 0;
    uint32_t destination = 0;
    uint32_t sent = 0;

    bool asked(const uint8_t* echo, uint32_t to) const {
        return get_u16_le(echo + kIdentifierAt) == identifier && get_u16_le(echo + kSequenceAt) < sent &&
               to == destination;
    }
};

// A raw socket shows every ICMP message of the host. Another call's (or
// another program's) echo replies, and error messages about datagrams that
// are not this call's requests, are not for this call: it waits on as if
// they had not come. Everything else decides the call.
bool for_this_call(const uint8_t* reply, int length, uint32_t from, const Call& call) {
    if (length < kShortestReply) return true;
    const uint8_t type = reply[kReplyTypeAt];
    if (type == kEchoReplyType) return call.asked(reply + kReplyTypeAt, from);
    if (std::find(std::begin(kQuotingTypes), std::end(kQuotingTypes), type) == std::end(kQuotingTypes)) {
        return true;
    }
    const uint8_t* quoted = reply + kQuotedHeaderAt;
    const size_t headerLength = static_cast<size_t>(quoted[0] & 0x0F) * 4;
    if (static_cast<size_t>(length) < kQuotedHeaderAt + headerLength + kQuotedMessageLength) return true;
    const uint8_t* request = quoted + headerLength;
    return quoted[kQuotedProtocolAt] == kIcmpProtocol && request[0] == kEchoRequestType &&
           call.asked(request, get_address(quoted + kQuotedDestinationAt));
}

void write_status(const std::string& path, int attempt, const char* value) {
    char key[32];
    std::snprintf(key, sizeof key, "PingStatue%d", attempt);
    platform::profile_write_string(kStatusSection, key, value, path.c_str());
}

class IcmpChannel final : public EchoChannel {
public:
    bool open(int receiveTimeoutMs) override {
        if (!platform::net_startup()) return false;
        socket_ = platform::icmp_socket_open(receiveTimeoutMs, identifier_);
        if (socket_ == 0) {
            platform::net_cleanup();
            return false;
        }
        return true;
    }
    void close() override {
        platform::icmp_socket_close(socket_);
        platform::net_cleanup();
        socket_ = 0;
    }
    uint16_t identifier() override { return identifier_; }
    int send(const uint8_t* message, int length, uint32_t address) override {
        return platform::icmp_send_to(socket_, message, length, address);
    }
    Receive receive(uint8_t* buffer, int capacity, int waitMs, int& length, uint32_t& from) override {
        switch (platform::icmp_receive_from(socket_, buffer, capacity, waitMs, length, from)) {
            case platform::IcmpReceive::Received: return Receive::Received;
            case platform::IcmpReceive::TimedOut: return Receive::TimedOut;
            case platform::IcmpReceive::Failed: break;
        }
        return Receive::Failed;
    }
    uint32_t tick_count_ms() override { return platform::tick_count_ms(); }

private:
    platform::SocketHandle socket_ = 0;
    uint16_t identifier_ = 0;
};

}  // namespace

uint16_t InternetChecksum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += get_u16_le(data + i);
    if (i < length) sum += data[i];
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

uint32_t RunPing(EchoChannel& channel, uint32_t address, const std::string& statusPath) {
    if (!channel.open(kPingReceiveTimeoutMs)) return 0;
    Call call;
    call.identifier = channel.identifier();
    call.destination = address;

    uint8_t request[kEchoRequestLength] = {};
    core::ByteWriter(request, sizeof request)
        .fill(kFill)
        .u8(0, kEchoRequestType)
        .u8(1, 0)
        .u8(kChecksumAt, 0)
        .u8(kChecksumAt + 1, 0);
    put_u16_le(request + kIdentifierAt, call.identifier);

    uint8_t reply[kPingReceiveCapacity] = {};
    int length = 0;
    uint32_t from = 0;
    int attempt = 1;
    EchoChannel::Receive outcome = EchoChannel::Receive::TimedOut;
    for (; attempt <= kPingAttempts; ++attempt) {
        put_u16_le(request + kChecksumAt, 0);
        put_u32_le(request + kTickAt, channel.tick_count_ms());
        put_u16_le(request + kSequenceAt, call.sent++);
        put_u16_le(request + kChecksumAt, InternetChecksum(request, sizeof request));
        if (channel.send(request, kEchoRequestLength, address) == -1) {
            channel.close();
            return 0;
        }
        // Datagrams for other calls are passed over within the attempt's
        // time-out; they do not lengthen it.
        const uint32_t sentAt = channel.tick_count_ms();
        for (;;) {
            const uint32_t spent = channel.tick_count_ms() - sentAt;
            if (spent >= static_cast<uint32_t>(kPingReceiveTimeoutMs)) {
                outcome = EchoChannel::Receive::TimedOut;
                break;
            }
            outcome = channel.receive(reply, kPingReceiveCapacity,
                                      kPingReceiveTimeoutMs - static_cast<int>(spent), length, from);
            if (outcome != EchoChannel::Receive::Received || for_this_call(reply, length, from, call)) break;
        }
        if (outcome != EchoChannel::Receive::TimedOut) break;
        write_status(statusPath, attempt, "Time out");
    }
    if (outcome == EchoChannel::Receive::TimedOut) {
        channel.close();
        return 0;
    }

    const uint32_t now = channel.tick_count_ms();
    uint32_t result = 0;
    if (outcome == EchoChannel::Receive::Failed || length < kShortestReply) {
        write_status(statusPath, attempt, "Time out1");
    } else if (reply[kReplyTypeAt] != kEchoReplyType) {
        write_status(statusPath, attempt, "Time out2");
    } else {
        char text[128];
        std::snprintf(text, sizeof text, "%d bytes from %s:icmp_seq = %d.time: %d ms\n", length,
                      platform::ipv4_to_text(from).c_str(),
                      static_cast<int>(get_u16_le(reply + kReplySequenceAt)),
                      static_cast<int>(now - get_u32_le(reply + kReplyTickAt)));
        write_status(statusPath, attempt, text);
        result = 1;
    }
    channel.close();
    return result;
}

}  // namespace doorlink::devices

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL Ping(const char* address) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!address) return 0;
        // A text that names no address would send to the broadcast address.
        const uint32_t destination = platform::ipv4_from_text(address);
        if (destination == 0xFFFFFFFFu) return 0;
        devices::IcmpChannel channel;
        return devices::RunPing(channel, destination, core::join_path(".", "ping.ini"));
    });
}
