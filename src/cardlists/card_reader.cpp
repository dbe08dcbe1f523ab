// Reading one card number from a card reader on a serial port: open the port
// with the reader's line settings, poll until a poll is answered with four
// bytes, close.
#include "cardlists/card_reader.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/export_guard.h"
#include "doorlink/doorlink.h"
#include "platform/clock.h"

namespace doorlink::cardlists {
namespace {

namespace p = platform;

constexpr uint32_t kEventMask = p::kEventReceiveChar | p::kEventTransmitEmpty;
constexpr uint32_t kQueueBytes = 16384;
constexpr uint32_t kPurgeAll =
    p::kPurgeAbortTransmit | p::kPurgeAbortReceive | p::kPurgeClearTransmit | p::kPurgeClearReceive;
constexpr uint32_t kPurgeReceiveSide = p::kPurgeAbortReceive | p::kPurgeClearReceive;
constexpr uint32_t kPurgeQueues = p::kPurgeClearTransmit | p::kPurgeClearReceive;

// The queued bytes, or false after a line error (the receive side is then
// purged) or when the port cannot say. An unknown count reads as nothing
// queued, so that a poll fails but the polling goes on.
bool line_clear(SerialHandle port, uint32_t& queued) {
    uint32_t errors = 0;
    queued = 0;
    if (!p::serial_clear_error(port, errors, queued)) {
        queued = 0;
        return true;
    }
    if (errors != 0) {
        p::serial_purge(port, kPurgeReceiveSide);
        return false;
    }
    return true;
}

// After a line check, drops whatever has been received when asked to, then
// writes; the bytes written, 0 on any failure.
uint32_t write_checked(SerialHandle port, const uint8_t* bytes, uint32_t length, bool dropReceived) {
    if (port == kNoSerialPort || !bytes) return 0;
    uint32_t queued;
    if (!line_clear(port, queued)) return 0;
    if (dropReceived) p::serial_purge(port, kPurgeReceiveSide);
    uint32_t written = 0;
    if (!p::serial_write(port, bytes, length, written)) return 0;
    return written;
}

}  // namespace

SerialHandle OpenReaderPort(const char* portName) {
    SerialHandle port = p::serial_open(portName);
    if (port == kNoSerialPort) return kNoSerialPort;
    if (!p::serial_set_event_mask(port, kEventMask)) {
        p::serial_close(port);
        return kNoSerialPort;
    }
    p::serial_setup_queues(port, kQueueBytes, kQueueBytes);

    p::SerialTimeouts timeouts;
    if (!p::serial_get_timeouts(port, timeouts)) {
        p::serial_close(port);
        return kNoSerialPort;
    }
    timeouts.readInterval = 1000;
    timeouts.readTotalMultiplier = 1;
    timeouts.readTotalConstant = 1000;
    timeouts.writeTotalMultiplier = 0;
    timeouts.writeTotalConstant = 0;
    if (!p::serial_set_timeouts(port, timeouts)) {
        p::serial_close(port);
        return kNoSerialPort;
    }

    // 9600 baud, 8 data bits, no parity, two stop bits, DTR and RTS on, no
    // flow control. Only these fields change; a port that refuses them is
    // still used, as the reader may cope.
    p::SerialLineState line;
    if (p::serial_get_state(port, line)) {
        line.baudRate = 9600;
        line.dataBits = 8;
        line.parity = 0;
        line.parityCheck = false;
        line.stopBits = 2;
        line.dtrControl = 1;
        line.rtsControl = 1;
        line.ctsFlowControl = false;
        line.dsrFlowControl = false;
        line.binary = true;
        p::serial_set_state(port, line);
    }
    p::serial_purge(port, kPurgeAll);
    return port;
}

uint32_t WriteReaderPort(SerialHandle port, const uint8_t* bytes, uint32_t length) {
    return write_checked(port, bytes, length, false);
}

uint32_t PollReader(SerialHandle port) {
    return write_checked(port, kPollRequest, sizeof kPollRequest, true);
}

uint32_t ReadReaderPort(SerialHandle port, uint8_t* buffer, uint32_t length) {
    if (port == kNoSerialPort || !buffer) return 0;
    uint32_t queued;
    if (!line_clear(port, queued) || queued == 0) return 0;
    uint32_t wanted = length < queued ? length : queued;
    uint32_t read = 0;
    if (!p::serial_read(port, buffer, wanted, read)) return 0;
    return read;
}

bool ReadCardReply(SerialHandle port, uint8_t reply[kCardReplyLength]) {
    // Asking for one byte more tells exactly four queued from more.
    uint8_t answer[kCardReplyLength + 1];
    if (ReadReaderPort(port, answer, sizeof answer) != kCardReplyLength) return false;
    std::memcpy(reply, answer, kCardReplyLength);
    return true;
}

void CloseReaderPort(SerialHandle port) {
    if (port == kNoSerialPort) return;
    p::serial_set_event_mask(port, 0);
    p::serial_purge(port, kPurgeQueues);
    p::serial_close(port);
}

void FormatCardResult(const uint8_t reply[kCardReplyLength], char result[kCardResultSize]) {
    uint64_t value = (uint64_t{reply[0]} << 24) | (uint64_t{reply[1]} << 16) | (uint64_t{reply[2]} << 8) |
                     uint64_t{reply[3]};
    unsigned site = reply[1];
    unsigned number = reply[2] * 256u + reply[3];
    std::snprintf(result, kCardResultSize, "%010" PRIu64 ",%03u%05u", value, site, number);
}

}  // namespace doorlink::cardlists

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL GetCardNo(const char* portName, char* result) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!portName || !result) return 0;
        cardlists::SerialHandle port = cardlists::OpenReaderPort(portName);
        if (port == cardlists::kNoSerialPort) return 0;
        uint8_t reply[cardlists::kCardReplyLength] = {};
        bool answered = false;
        for (int poll = 0; poll < cardlists::kMaxPolls && !answered; ++poll) {
            cardlists::PollReader(port);
            platform::sleep_ms(cardlists::kPollPauseMs);
            answered = cardlists::ReadCardReply(port, reply);
        }
        if (answered) {
            char text[cardlists::kCardResultSize];
            cardlists::FormatCardResult(reply, text);
            std::memcpy(result, text, sizeof text);
        }
        cardlists::CloseReaderPort(port);
        return answered ? 1 : 0;
    });
}
