// A serial port whose far end is the serial script (see fake_platform.h).
#include <deque>

#include "platform/serial.h"
#include "support/fake_platform.h"

namespace doorlink::fuzz {
namespace {

enum Refusal : uint8_t {
    kRefuseOpen = 0x01,
    kRefuseEventMask = 0x02,
    kRefuseGetTimeouts = 0x04,
    kRefuseSetTimeouts = 0x08,
    kRefuseGetState = 0x10,
    kRefuseSetState = 0x20,
    kRefusePurge = 0x40,
};

struct SerialScript {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
    uint8_t refusals = 0;
    std::deque<uint8_t> queue;  // arrived and not read yet
    bool open = false;
};

SerialScript serial;

bool refuses(uint8_t what) { return (serial.refusals & what) != 0; }

}  // namespace

void use_serial_script(const uint8_t* data, size_t size) {
    serial.data = data;
    serial.size = size;
    serial.at = 0;
    serial.refusals = 0;
    serial.queue.clear();
    serial.open = false;
    if (size > 0) {
        serial.refusals = data[0];
        serial.at = 1;
    }
}

bool serial_port_open() { return serial.open; }

}  // namespace doorlink::fuzz

namespace doorlink::platform {

using fuzz::serial;

SerialHandle serial_open(const char* name) {
    if (!name || !*name || serial.open || fuzz::refuses(fuzz::kRefuseOpen)) return kNoSerialPort;
    serial.open = true;
    return 7;
}

void serial_close(SerialHandle port) {
    if (port == 7) serial.open = false;
}

bool serial_set_event_mask(SerialHandle port, uint32_t) {
    return port == 7 && !fuzz::refuses(fuzz::kRefuseEventMask);
}
bool serial_setup_queues(SerialHandle port, uint32_t, uint32_t) { return port == 7; }
bool serial_get_timeouts(SerialHandle port, SerialTimeouts& timeouts) {
    timeouts = SerialTimeouts{};
    return port == 7 && !fuzz::refuses(fuzz::kRefuseGetTimeouts);
}
bool serial_set_timeouts(SerialHandle port, const SerialTimeouts&) {
    return port == 7 && !fuzz::refuses(fuzz::kRefuseSetTimeouts);
}
bool serial_get_state(SerialHandle port, SerialLineState& state) {
    state = SerialLineState{};
    return port == 7 && !fuzz::refuses(fuzz::kRefuseGetState);
}
bool serial_set_state(SerialHandle port, const SerialLineState&) {
    return port == 7 && !fuzz::refuses(fuzz::kRefuseSetState);
}

bool serial_purge(SerialHandle port, uint32_t flags) {
    if (port != 7 || fuzz::refuses(fuzz::kRefusePurge)) return false;
    if (flags & kPurgeClearReceive) serial.queue.clear();
    return true;
}

bool serial_clear_error(SerialHandle port, uint32_t& errors, uint32_t& queuedIn) {
    errors = 0;
    queuedIn = 0;
    if (port != 7) return false;
    if (serial.at < serial.size) {
        const uint8_t line = serial.data[serial.at++];
        if (line & 0x40) return false;
        if (line & 0x80) errors = 0x08;
        for (size_t n = line & 0x0F; n > 0 && serial.at < serial.size; --n) {
            serial.queue.push_back(serial.data[serial.at++]);
        }
    }
    queuedIn = static_cast<uint32_t>(serial.queue.size());
    return true;
}

bool serial_write(SerialHandle port, const uint8_t*, uint32_t length, uint32_t& written) {
    written = port == 7 ? length : 0;
    return port == 7;
}

bool serial_read(SerialHandle port, uint8_t* buffer, uint32_t length, uint32_t& read) {
    read = 0;
    if (port != 7) return false;
    while (read < length && !serial.queue.empty()) {
        buffer[read++] = serial.queue.front();
        serial.queue.pop_front();
    }
    return true;
}

}  // namespace doorlink::platform
