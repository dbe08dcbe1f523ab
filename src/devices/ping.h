// Ping: up to four ICMP echo requests; the first datagram that comes back for
// this call decides, and a line about each attempt goes into the status file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace doorlink::devices {

constexpr int kEchoRequestLength = 44;
constexpr int kPingAttempts = 4;
constexpr int kPingReceiveTimeoutMs = 1000;
constexpr int kPingReceiveCapacity = 1024;

// The ICMP socket and clock that Ping runs on; tests script their own.
class EchoChannel {
public:
    enum class Receive { Received, TimedOut, Failed };

    virtual ~EchoChannel() = default;
    // Starts the socket library and opens the socket with the receive
    // time-out; false when either fails (nothing is left to close).
    virtual bool open(int receiveTimeoutMs) = 0;
    // Closes the socket and releases the socket library once.
    virtual void close() = 0;
    // The identifier of this call's echo requests, once open: no other call
    // going on in this process has it.
    virtual uint16_t identifier() = 0;
    virtual int send(const uint8_t* message, int length, uint32_t address) = 0;
    // The datagram as received within waitMs: IPv4 header, then the ICMP
    // message.
    virtual Receive receive(uint8_t* buffer, int capacity, int waitMs, int& length, uint32_t& from) = 0;
    virtual uint32_t tick_count_ms() = 0;
};

// The Internet checksum (RFC 1071) over data, 16-bit words taken least
// significant byte first, as the request stores its fields.
uint16_t InternetChecksum(const uint8_t* data, size_t length);

// 1 when an echo reply to this call came back from the address, else 0.
uint32_t RunPing(EchoChannel& channel, uint32_t address, const std::string& statusPath);

}  // namespace doorlink::devices
