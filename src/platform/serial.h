// Serial ports, as the platform's communications functions offer them: the
// card reader's port code (open, line settings, polling) is written once on
// top of these, and each backend maps them onto its own system.
#pragma once

#include <cstdint>

namespace doorlink::platform {

// An open serial port; kNoSerialPort when none.
using SerialHandle = intptr_t;
constexpr SerialHandle kNoSerialPort = -1;

// The five time-out values of a port, in milliseconds.
struct SerialTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

// The line state fields the library sets.
struct SerialLineState {
    uint32_t baudRate = 9600;
    uint8_t dataBits = 8;
    uint8_t parity = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool parityCheck = false;
    uint8_t stopBits = 0;    // 0 one, 1 one and a half, 2 two
    uint8_t dtrControl = 1;  // 0 off, 1 on, 2 handshake
    uint8_t rtsControl = 1;  // 0 off, 1 on, 2 handshake, 3 toggle
    bool ctsFlowControl = false;
    bool dsrFlowControl = false;
    bool binary = true;
};

// Purge flags and event mask bits, with the platform's values.
constexpr uint32_t kPurgeAbortTransmit = 0x01;
constexpr uint32_t kPurgeAbortReceive = 0x02;
constexpr uint32_t kPurgeClearTransmit = 0x04;
constexpr uint32_t kPurgeClearReceive = 0x08;
constexpr uint32_t kEventReceiveChar = 0x01;
constexpr uint32_t kEventTransmitEmpty = 0x04;

// Opens an existing device for reading and writing, not shared.
SerialHandle serial_open(const char* name);
void serial_close(SerialHandle handle);

bool serial_set_event_mask(SerialHandle handle, uint32_t mask);
bool serial_setup_queues(SerialHandle handle, uint32_t inBytes, uint32_t outBytes);
bool serial_get_timeouts(SerialHandle handle, SerialTimeouts& timeouts);
bool serial_set_timeouts(SerialHandle handle, const SerialTimeouts& timeouts);
bool serial_get_state(SerialHandle handle, SerialLineState& state);
bool serial_set_state(SerialHandle handle, const SerialLineState& state);
bool serial_purge(SerialHandle handle, uint32_t flags);
// Reports pending line errors (0 for none) and the bytes waiting in the
// receive queue, and clears the error state.
bool serial_clear_error(SerialHandle handle, uint32_t& errors, uint32_t& queuedIn);
// Synchronous transfers; false on failure.
bool serial_write(SerialHandle handle, const uint8_t* data, uint32_t length, uint32_t& written);
bool serial_read(SerialHandle handle, uint8_t* buffer, uint32_t length, uint32_t& read);

}  // namespace doorlink::platform
