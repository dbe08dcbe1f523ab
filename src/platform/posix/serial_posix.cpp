// Serial ports on POSIX terminals. The handle points to a small record of
// the descriptor and the time-outs the caller set, since termios has no
// place for them; reads and writes apply them with poll().
#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>

#if defined(__linux__)
#include <linux/serial.h>
#endif

namespace doorlink::platform {
namespace {

constexpr uint32_t kForever = 0xFFFFFFFFu;

struct Port {
    int fd = -1;
    SerialTimeouts timeouts;
#if defined(__linux__)
    serial_icounter_struct counts{};
    bool haveCounts = false;
#endif
};

Port* port_of(SerialHandle handle) {
    if (handle == kNoSerialPort || handle == 0) return nullptr;
    // The handle is the port object's address, as the platform's handles are.
    return reinterpret_cast<Port*>(handle);  // NOLINT(performance-no-int-to-ptr)
}

struct Speed {
    uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {110, B110},   {300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},     {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool speed_code(uint32_t baud, speed_t& code) {
    for (const Speed& s : kSpeeds) {
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    }
    return false;
}

uint32_t speed_baud(speed_t code) {
    for (const Speed& s : kSpeeds) {
        if (s.code == code) return s.baud;
    }
    return 0;
}

using Steady = std::chrono::steady_clock;

// Milliseconds left until the deadline, or -1 (wait without end) for none.
int remaining_ms(bool bounded, Steady::time_point deadline) {
    if (!bounded) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left > 0x7FFFFFFF ? 0x7FFFFFFF : left);
}

// True when the descriptor became ready for events within the time; false
// after the time-out, or when the line hung up or failed.
bool wait_for(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        return r > 0 && (p.revents & events) != 0 && (p.revents & (POLLHUP | POLLERR)) == 0;
    }
}

void apply_modem_line(int fd, int bit, uint8_t control) {
    // Handshake modes are left to the driver; on and off are set here. Pseudo
    // terminals have no modem lines and refuse the request, which is harmless.
    if (control > 1) return;
    ::ioctl(fd, control == 1 ? TIOCMBIS : TIOCMBIC, &bit);
}

}  // namespace

SerialHandle serial_open(const char* name) {
    if (!name || !*name) return kNoSerialPort;
    // Non-blocking, so that the open does not wait for a carrier; the
    // transfers below do their own waiting. Never created: no O_CREAT.
    int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kNoSerialPort;
    // Not shared: other processes are refused by the terminal itself
    // (TIOCEXCL), and the advisory lock also keeps out privileged ones and
    // the other users of this library in the same process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return kNoSerialPort;
    }
    Port* port = new (std::nothrow) Port;
    if (!port) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return kNoSerialPort;
    }
    port->fd = fd;
    return reinterpret_cast<SerialHandle>(port);
}

void serial_close(SerialHandle handle) {
    Port* port = port_of(handle);
    if (!port) return;
    // The exclusive flag outlives the descriptor while anyone else holds the
    // terminal open; clear it so that the next opening is not refused.
    ::ioctl(port->fd, TIOCNXCL);
    ::close(port->fd);
    delete port;
}

bool serial_set_event_mask(SerialHandle handle, uint32_t) {
    // Events are not waited for here; the mask only has to be accepted by a
    // terminal, and anything that is not one fails as on other platforms.
    Port* port = port_of(handle);
    termios t{};
    return port && ::tcgetattr(port->fd, &t) == 0;
}

bool serial_setup_queues(SerialHandle handle, uint32_t, uint32_t) {
    // The terminal driver's queues have a fixed size.
    return port_of(handle) != nullptr;
}

bool serial_get_timeouts(SerialHandle handle, SerialTimeouts& timeouts) {
    Port* port = port_of(handle);
    if (!port) return false;
    timeouts = port->timeouts;
    return true;
}

bool serial_set_timeouts(SerialHandle handle, const SerialTimeouts& timeouts) {
    Port* port = port_of(handle);
    if (!port) return false;
    port->timeouts = timeouts;
    return true;
}

bool serial_get_state(SerialHandle handle, SerialLineState& state) {
    Port* port = port_of(handle);
    termios t{};
    if (!port || ::tcgetattr(port->fd, &t) != 0) return false;
    state.baudRate = speed_baud(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5: state.dataBits = 5; break;
        case CS6: state.dataBits = 6; break;
        case CS7: state.dataBits = 7; break;
        default: state.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB)) {
        state.parity = 0;
    } else {
#if defined(CMSPAR)
        if (t.c_cflag & CMSPAR) state.parity = (t.c_cflag & PARODD) ? 3 : 4;
        else
#endif
            state.parity = (t.c_cflag & PARODD) ? 1 : 2;
    }
    state.parityCheck = (t.c_iflag & INPCK) != 0;
    state.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    int lines = 0;
    if (::ioctl(port->fd, TIOCMGET, &lines) == 0) {
        state.dtrControl = (lines & TIOCM_DTR) ? 1 : 0;
        state.rtsControl = (lines & TIOCM_RTS) ? 1 : 0;
    }
    state.ctsFlowControl = (t.c_cflag & CRTSCTS) != 0;
    state.dsrFlowControl = false;
    state.binary = (t.c_lflag & ICANON) == 0;
    return true;
}

bool serial_set_state(SerialHandle handle, const SerialLineState& state) {
    Port* port = port_of(handle);
    termios t{};
    if (!port || ::tcgetattr(port->fd, &t) != 0) return false;
    speed_t speed;
    if (!speed_code(state.baudRate, speed)) return false;
    // Raw bytes both ways: no line editing, echo, translation or signals.
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#if defined(CMSPAR)
    t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    switch (state.dataBits) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        default: t.c_cflag |= CS8; break;
    }
    if (state.parity != 0) {
        t.c_cflag |= PARENB;
        if (state.parity == 1 || state.parity == 3) t.c_cflag |= PARODD;
#if defined(CMSPAR)
        if (state.parity >= 3) t.c_cflag |= CMSPAR;
#endif
    }
    if (state.parityCheck) t.c_iflag |= INPCK;
    else t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    if (state.stopBits != 0) t.c_cflag |= CSTOPB;  // one and a half is two here
    if (state.ctsFlowControl) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // Ignore the modem's carrier (a reader has none) and keep the receiver on.
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(port->fd, TCSANOW, &t) != 0) return false;
    apply_modem_line(port->fd, TIOCM_DTR, state.dtrControl);
    apply_modem_line(port->fd, TIOCM_RTS, state.rtsControl);
    return true;
}

bool serial_purge(SerialHandle handle, uint32_t flags) {
    Port* port = port_of(handle);
    if (!port) return false;
    // Transfers are synchronous and never outlive their call, so the abort
    // flags have nothing to abort; the clear flags drop the queued bytes.
    bool in = (flags & kPurgeClearReceive) != 0;
    bool out = (flags & kPurgeClearTransmit) != 0;
    if (!in && !out) return true;
    return ::tcflush(port->fd, in && out ? TCIOFLUSH : in ? TCIFLUSH : TCOFLUSH) == 0;
}

bool serial_clear_error(SerialHandle handle, uint32_t& errors, uint32_t& queuedIn) {
    Port* port = port_of(handle);
    if (!port) return false;
    int queued = 0;
    if (::ioctl(port->fd, FIONREAD, &queued) != 0 || queued < 0) return false;
    queuedIn = static_cast<uint32_t>(queued);
    errors = 0;
#if defined(__linux__)
    // Line errors are counted by the UART driver; new counts since the last
    // query are the pending errors (overrun 0x01/0x02, parity 0x04,
    // framing 0x08, break 0x10). Terminals without counters report none.
    serial_icounter_struct now{};
    if (::ioctl(port->fd, TIOCGICOUNT, &now) == 0) {
        if (port->haveCounts) {
            const serial_icounter_struct& was = port->counts;
            if (now.buf_overrun != was.buf_overrun) errors |= 0x01;
            if (now.overrun != was.overrun) errors |= 0x02;
            if (now.parity != was.parity) errors |= 0x04;
            if (now.frame != was.frame) errors |= 0x08;
            if (now.brk != was.brk) errors |= 0x10;
        }
        port->counts = now;
        port->haveCounts = true;
    }
#endif
    return true;
}

bool serial_write(SerialHandle handle, const uint8_t* data, uint32_t length, uint32_t& written) {
    written = 0;
    Port* port = port_of(handle);
    if (!port || (!data && length)) return false;
    const SerialTimeouts& t = port->timeouts;
    uint64_t totalMs = uint64_t{t.writeTotalMultiplier} * length + t.writeTotalConstant;
    bool bounded = totalMs != 0;
    auto deadline = Steady::now() + std::chrono::milliseconds(bounded ? totalMs : 0);
    while (written < length) {
        ssize_t n = ::write(port->fd, data + written, length - written);
        if (n > 0) {
            written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        int wait = remaining_ms(bounded, deadline);
        if (wait == 0 || !wait_for(port->fd, POLLOUT, wait)) return true;  // timed out
    }
    return true;
}

bool serial_read(SerialHandle handle, uint8_t* buffer, uint32_t length, uint32_t& read) {
    read = 0;
    Port* port = port_of(handle);
    if (!port || (!buffer && length)) return false;
    const SerialTimeouts& t = port->timeouts;
    // An interval of "forever" with no total time-out: take what is there.
    bool immediate = t.readInterval == kForever && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
    uint64_t totalMs = uint64_t{t.readTotalMultiplier} * length + t.readTotalConstant;
    bool bounded = totalMs != 0;
    auto deadline = Steady::now() + std::chrono::milliseconds(bounded ? totalMs : 0);
    while (read < length) {
        ssize_t n = ::read(port->fd, buffer + read, length - read);
        if (n > 0) {
            read += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        // Nothing there yet (a raw terminal reads 0 bytes then, not an error).
        if (immediate) return true;
        // Wait for the next byte: at most the total time left, and once a
        // byte has come, at most the interval between two bytes.
        int wait = remaining_ms(bounded, deadline);
        if (read > 0 && t.readInterval != 0 && t.readInterval != kForever) {
            int interval = static_cast<int>(t.readInterval > 0x7FFFFFFF ? 0x7FFFFFFF : t.readInterval);
            wait = wait < 0 ? interval : (wait < interval ? wait : interval);
        }
        if (wait == 0 || !wait_for(port->fd, POLLIN, wait)) return true;  // timed out
    }
    return true;
}

}  // namespace doorlink::platform
