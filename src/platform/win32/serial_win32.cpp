// Serial ports through the communications functions: the handle is the
// file handle of the device.
#include "platform/serial.h"

#include "platform/win32/win32_api.h"

namespace doorlink::platform {
namespace {

HANDLE handle_of(SerialHandle port) { return reinterpret_cast<HANDLE>(port); }

bool valid(SerialHandle port) {
    return port != kNoSerialPort && handle_of(port) != INVALID_HANDLE_VALUE && port != 0;
}

}  // namespace

SerialHandle serial_open(const char* name) {
    if (!name) return kNoSerialPort;
    HANDLE h = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return kNoSerialPort;
    return reinterpret_cast<SerialHandle>(h);
}

void serial_close(SerialHandle port) {
    if (valid(port)) ::CloseHandle(handle_of(port));
}

bool serial_set_event_mask(SerialHandle port, uint32_t mask) {
    return valid(port) && ::SetCommMask(handle_of(port), mask) != 0;
}

bool serial_setup_queues(SerialHandle port, uint32_t inBytes, uint32_t outBytes) {
    return valid(port) && ::SetupComm(handle_of(port), inBytes, outBytes) != 0;
}

bool serial_get_timeouts(SerialHandle port, SerialTimeouts& timeouts) {
    COMMTIMEOUTS t{};
    if (!valid(port) || !::GetCommTimeouts(handle_of(port), &t)) return false;
    timeouts.readInterval = t.ReadIntervalTimeout;
    timeouts.readTotalMultiplier = t.ReadTotalTimeoutMultiplier;
    timeouts.readTotalConstant = t.ReadTotalTimeoutConstant;
    timeouts.writeTotalMultiplier = t.WriteTotalTimeoutMultiplier;
    timeouts.writeTotalConstant = t.WriteTotalTimeoutConstant;
    return true;
}

bool serial_set_timeouts(SerialHandle port, const SerialTimeouts& timeouts) {
    if (!valid(port)) return false;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.readInterval;
    t.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    return ::SetCommTimeouts(handle_of(port), &t) != 0;
}

bool serial_get_state(SerialHandle port, SerialLineState& state) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!valid(port) || !::GetCommState(handle_of(port), &dcb)) return false;
    state.baudRate = dcb.BaudRate;
    state.dataBits = dcb.ByteSize;
    state.parity = dcb.Parity;
    state.parityCheck = dcb.fParity != 0;
    state.stopBits = dcb.StopBits;
    state.dtrControl = static_cast<uint8_t>(dcb.fDtrControl);
    state.rtsControl = static_cast<uint8_t>(dcb.fRtsControl);
    state.ctsFlowControl = dcb.fOutxCtsFlow != 0;
    state.dsrFlowControl = dcb.fOutxDsrFlow != 0;
    state.binary = dcb.fBinary != 0;
    return true;
}

// The fields of the interface are changed in the port's current state; the
// others (characters, software flow control...) stay as the driver has them.
bool serial_set_state(SerialHandle port, const SerialLineState& state) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!valid(port) || !::GetCommState(handle_of(port), &dcb)) return false;
    dcb.BaudRate = state.baudRate;
    dcb.ByteSize = state.dataBits;
    dcb.Parity = state.parity;
    dcb.fParity = state.parityCheck ? 1 : 0;
    dcb.StopBits = state.stopBits;
    dcb.fDtrControl = state.dtrControl & 3u;
    dcb.fRtsControl = state.rtsControl & 3u;
    dcb.fOutxCtsFlow = state.ctsFlowControl ? 1 : 0;
    dcb.fOutxDsrFlow = state.dsrFlowControl ? 1 : 0;
    dcb.fBinary = state.binary ? 1 : 0;
    return ::SetCommState(handle_of(port), &dcb) != 0;
}

bool serial_purge(SerialHandle port, uint32_t flags) {
    return valid(port) && ::PurgeComm(handle_of(port), flags) != 0;
}

bool serial_clear_error(SerialHandle port, uint32_t& errors, uint32_t& queuedIn) {
    DWORD found = 0;
    COMSTAT status{};
    if (!valid(port) || !::ClearCommError(handle_of(port), &found, &status)) return false;
    errors = found;
    queuedIn = status.cbInQue;
    return true;
}

bool serial_write(SerialHandle port, const uint8_t* data, uint32_t length, uint32_t& written) {
    written = 0;
    DWORD n = 0;
    if (!valid(port) || (!data && length > 0)) return false;
    if (!::WriteFile(handle_of(port), data, length, &n, nullptr)) return false;
    written = n;
    return true;
}

bool serial_read(SerialHandle port, uint8_t* buffer, uint32_t length, uint32_t& read) {
    read = 0;
    DWORD n = 0;
    if (!valid(port) || (!buffer && length > 0)) return false;
    if (!::ReadFile(handle_of(port), buffer, length, &n, nullptr)) return false;
    read = n;
    return true;
}

}  // namespace doorlink::platform
