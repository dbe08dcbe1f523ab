// The card reader on a serial port: the port operations GetCardNo polls
// through, and the text it makes of a card reply.
#pragma once

#include <cstdint>

#include "platform/serial.h"

namespace doorlink::cardlists {

using platform::kNoSerialPort;
using platform::SerialHandle;

// The reader's protocol: the host polls with two bytes, the reader answers
// with four.
constexpr uint8_t kPollRequest[2] = {0xF5, 0xF5};
constexpr uint32_t kCardReplyLength = 4;
constexpr int kMaxPolls = 100;
constexpr uint32_t kPollPauseMs = 50;
// "0000798777,01212345" and its terminating zero.
constexpr uint32_t kCardResultSize = 20;

// Opens the port with the reader's line settings and empty queues;
// kNoSerialPort when it does not exist, is in use or refuses the settings.
SerialHandle OpenReaderPort(const char* portName);
// The bytes written; 0 on any failure, also after a pending line error.
uint32_t WriteReaderPort(SerialHandle port, const uint8_t* bytes, uint32_t length);
// The bytes read, never more than length nor more than have arrived; 0 when
// nothing has arrived or on any failure.
uint32_t ReadReaderPort(SerialHandle port, uint8_t* buffer, uint32_t length);
// Polls the reader after dropping whatever it sent before, so that a late or
// short answer to an earlier poll cannot join the answer to this one. The
// bytes written, 0 on any failure.
uint32_t PollReader(SerialHandle port);
// True when exactly one card reply is queued, which then goes into reply;
// fewer or more bytes (two answers piled up) are read and are no card.
bool ReadCardReply(SerialHandle port, uint8_t reply[kCardReplyLength]);
// Ignores kNoSerialPort.
void CloseReaderPort(SerialHandle port);

// The result text of a card reply b0..b3: the big-endian card value as ten
// decimal digits, a comma, and the card text (site byte b1 in three digits,
// b2 * 256 + b3 in five). Always 19 characters and a terminating zero.
void FormatCardResult(const uint8_t reply[kCardReplyLength], char result[kCardResultSize]);

}  // namespace doorlink::cardlists
