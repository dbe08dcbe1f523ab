// Checks of the Win32 platform backend, run under Wine: each check is one
// function in the table at the end; the program prints a line per failed
// expectation and exits with 0 only when all held.
//
//     platform_check.exe [CHECK...]     (all checks when none is named)
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "core/library_state.h"
#include "core/paths.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/serial.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "platform/win32/socket_handle.h"
#include "platform/win32/win32_api.h"

namespace {

using namespace doorlink::platform;

int failures = 0;

#define EXPECT(condition)                                                                 \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::printf("  failed at platform_check.cpp:%d: %s\n", __LINE__, #condition); \
            ++failures;                                                                   \
        }                                                                                 \
    } while (0)

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The module directory is the executable's, in backslash form.
void check_paths() {
    EXPECT(kPathSeparator == '\\');
    std::string exe = executable_path();
    std::printf("  executable %s\n", exe.c_str());
    EXPECT(ends_with(exe, "\\platform_check.exe"));
    EXPECT(exe.size() > 3 && exe[1] == ':' && exe[2] == '\\');
    std::string dir = exe.substr(0, exe.rfind('\\'));
    EXPECT(doorlink::core::LibraryState::get().module_directory() == dir);
    EXPECT(doorlink::core::registry_path() == dir + "\\eqminfo.ini");
    EXPECT(doorlink::core::module_path({"list", "doorname001.dat"}) == dir + "\\list\\doorname001.dat");
    EXPECT(!module_directory_override().has_value());
}

bool file_exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool write_file(const std::string& path, const char* text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fputs(text, f);
    return std::fclose(f) == 0;
}

std::string read_file(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "<missing>";
    char buffer[256] = {};
    size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    return std::string(buffer, n);
}

void check_files() {
    const std::string dir = doorlink::core::module_path({"files"});
    EXPECT(make_directory(dir));
    EXPECT(make_directory(dir));  // an existing directory is no error
    const std::string a = dir + "\\a.txt";
    const std::string b = dir + "\\b.txt";
    EXPECT(write_file(a, "first"));
    EXPECT(!make_directory(a));  // a file of that name is
    EXPECT(move_file(a, b));
    EXPECT(!file_exists(a) && read_file(b) == "first");
    EXPECT(write_file(a, "second"));
    EXPECT(!move_file(a, b));  // the target exists: both stay as they are
    EXPECT(read_file(a) == "second" && read_file(b) == "first");
    EXPECT(delete_file(a));
    EXPECT(!delete_file(a));
    EXPECT(delete_file(b));
    EXPECT(!make_directory(dir + "\\missing\\deeper"));
}

// Day of the week of a date, 0 = Sunday (Sakamoto's method).
int weekday_of(int y, int m, int d) {
    static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

void check_clock() {
    LocalTime now = local_time();
    std::printf("  local time %04u-%02u-%02u %02u:%02u:%02u day %u\n", now.year, now.month, now.day, now.hour,
                now.minute, now.second, now.dayOfWeek);
    EXPECT(now.year >= 2020 && now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31 &&
           now.hour < 24 && now.minute < 60 && now.second < 60);
    EXPECT(now.dayOfWeek == weekday_of(now.year, now.month, now.day));
    // Wine's tick count is a value its server refreshes: on a loaded machine
    // it can lag behind a sleep now and then, so one of three tries must fit.
    uint32_t slept = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        uint32_t before = tick_count_ms();
        sleep_ms(100);
        slept = tick_count_ms() - before;
        if (slept >= 90 && slept < 3000) break;
        std::printf("  slept 100 ms: %u ms by the tick count\n", slept);
    }
    EXPECT(slept >= 90 && slept < 3000);
    EXPECT(process_id() != 0);
}

struct Counter {
    Mutex lock;
    long value = 0;
};

void add_many(void* raw) {
    auto* c = static_cast<Counter*>(raw);
    for (int i = 0; i < 20000; ++i) {
        c->lock.lock();
        long v = c->value;
        if (i % 1000 == 0) sleep_ms(0);  // give the others a chance to interleave
        c->value = v + 1;
        c->lock.unlock();
    }
}

void check_threads() {
    Counter counter;
    Thread threads[4];
    for (Thread& t : threads) EXPECT(t.start(&add_many, &counter));
    Thread moved = std::move(threads[3]);
    EXPECT(!threads[3].running() && moved.running());
    for (Thread& t : threads) t.join();
    moved.join();
    moved.join();  // a second join does nothing
    EXPECT(counter.value == 4 * 20000);
}

// A socket bound to a free port of the loopback address, inside one
// start-up of the socket library.
struct Bound {
    SocketHandle socket = 0;
    uint16_t port = 0;
    Bound() {
        net_startup();
        socket = udp_socket_create();
        socket_bind_any(socket, 0);
        port = socket_local_port(socket);
    }
    ~Bound() {
        socket_close(socket);
        net_cleanup();
    }
    Endpoint endpoint() const { return Endpoint{ipv4_from_text("127.0.0.1"), port_to_network(port)}; }
};

bool sockets_started() {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return ::WSAGetLastError() != WSANOTINITIALISED;
    ::closesocket(s);
    return true;
}

void check_sockets() {
    EXPECT(!sockets_started());
    {
        Bound a, b;
        EXPECT(a.socket != 0 && b.socket != 0 && a.port != 0 && a.port != b.port);
        EXPECT(sockets_started());

        // An empty datagram reads as 0 bytes, from its sender.
        Endpoint from;
        EXPECT(socket_wait(a.socket, true, 1000));
        EXPECT(socket_send_to(a.socket, nullptr, 0, b.endpoint()) == 0);
        uint8_t buffer[16];
        EXPECT(socket_wait(b.socket, false, 2000));
        EXPECT(socket_receive_from(b.socket, buffer, sizeof buffer, from) == 0);
        EXPECT(from.port == port_to_network(a.port) && from.address == ipv4_from_text("127.0.0.1"));

        // A datagram longer than the buffer is an error; the next one is not.
        uint8_t big[100];
        std::memset(big, 0x5A, sizeof big);
        EXPECT(socket_send_to(a.socket, big, sizeof big, b.endpoint()) == 100);
        EXPECT(socket_send_to(a.socket, big, 5, b.endpoint()) == 5);
        EXPECT(socket_wait(b.socket, false, 2000));
        EXPECT(socket_receive_from(b.socket, buffer, 10, from) == -1);
        EXPECT(socket_wait(b.socket, false, 2000));
        EXPECT(socket_receive_from(b.socket, buffer, sizeof buffer, from) == 5);
        EXPECT(buffer[0] == 0x5A && buffer[4] == 0x5A);

        // Nothing to read: the wait gives up after its time; a receive on its
        // own after the receive time-out.
        uint32_t start = tick_count_ms();
        EXPECT(!socket_wait(b.socket, false, 300));
        uint32_t waited = tick_count_ms() - start;
        EXPECT(waited >= 250 && waited < 3000);
        socket_set_receive_timeout(b.socket, 300);
        start = tick_count_ms();
        EXPECT(socket_receive_from(b.socket, buffer, sizeof buffer, from) == -1);
        waited = tick_count_ms() - start;
        EXPECT(waited >= 250 && waited < 3000);

        // An exclusively bound port cannot be bound again.
        net_startup();
        SocketHandle c = udp_socket_create();
        socket_set_exclusive_address(c);
        EXPECT(!socket_bind_any(c, a.port));
        socket_close(c);
        net_cleanup();
    }
    // Every start-up had its clean-up.
    EXPECT(!sockets_started());
}

// Sockets reach the host as 32-bit values: a SOCKET that fits is kept as it
// is; on 64-bit Windows one that does not is closed and refused.
void check_socket_handles() {
    std::vector<SOCKET> closed;
    auto record = [&closed](SOCKET s) {
        closed.push_back(s);
        return 0;
    };
    std::printf("  a SOCKET has %u bits\n", static_cast<unsigned>(sizeof(SOCKET) * 8));
    EXPECT(socket_handle_of(INVALID_SOCKET, record) == 0);
    EXPECT(socket_handle_of(static_cast<SOCKET>(0x1F4), record) == 0x1F4u);
    EXPECT(closed.empty());
    if (sizeof(SOCKET) > sizeof(SocketHandle)) {
        EXPECT(socket_handle_of(static_cast<SOCKET>(0xFFFFFFFCu), record) == 0xFFFFFFFCu);
        const SOCKET wide = static_cast<SOCKET>(uint64_t{1} << 32 | 0x1F4);
        EXPECT(socket_handle_of(wide, record) == 0);
        EXPECT(closed.size() == 1 && closed[0] == wide);
    }
}

void check_addresses() {
    const uint8_t loopback[4] = {127, 0, 0, 1};
    uint32_t expected;
    std::memcpy(&expected, loopback, 4);
    EXPECT(ipv4_from_text("127.0.0.1") == expected);
    EXPECT(ipv4_from_text("127.1") == expected);  // the short forms of inet_addr
    EXPECT(ipv4_from_text("not an address") == 0xFFFFFFFFu);
    EXPECT(ipv4_from_text(nullptr) == 0xFFFFFFFFu);
    EXPECT(ipv4_to_text(expected) == "127.0.0.1");
    EXPECT(port_from_network(port_to_network(9000)) == 9000);
    EXPECT(port_to_network(9000) == ::htons(9000));
}

void check_serial_refusals() {
    EXPECT(serial_open("\\\\.\\COM250") == kNoSerialPort);
    EXPECT(serial_open(nullptr) == kNoSerialPort);
    SerialTimeouts timeouts;
    SerialLineState state;
    uint32_t errors = 0, queued = 0, count = 0;
    uint8_t byte = 0;
    EXPECT(!serial_set_event_mask(kNoSerialPort, kEventReceiveChar));
    EXPECT(!serial_get_timeouts(kNoSerialPort, timeouts));
    EXPECT(!serial_get_state(kNoSerialPort, state));
    EXPECT(!serial_clear_error(kNoSerialPort, errors, queued));
    EXPECT(!serial_write(kNoSerialPort, &byte, 1, count));
    EXPECT(!serial_read(kNoSerialPort, &byte, 1, count));
    serial_close(kNoSerialPort);
}

// A serial port whose other end is the driver's card reader, which answers
// every poll 0xF5 0xF5 with the four bytes 0x00 0x0C 0x30 0x39. The port is
// set up as the card reader's port is.
void check_serial_port(const char* name) {
    SerialHandle port = serial_open(name);
    EXPECT(port != kNoSerialPort);
    if (port == kNoSerialPort) return;
    EXPECT(serial_set_event_mask(port, kEventReceiveChar | kEventTransmitEmpty));
    EXPECT(serial_setup_queues(port, 16384, 16384));

    SerialTimeouts timeouts;
    EXPECT(serial_get_timeouts(port, timeouts));
    timeouts.readInterval = 1000;
    timeouts.readTotalMultiplier = 1;
    timeouts.readTotalConstant = 1000;
    timeouts.writeTotalMultiplier = 0;
    timeouts.writeTotalConstant = 0;
    EXPECT(serial_set_timeouts(port, timeouts));
    SerialTimeouts back;
    EXPECT(serial_get_timeouts(port, back));
    EXPECT(back.readInterval == 1000 && back.readTotalMultiplier == 1 && back.readTotalConstant == 1000 &&
           back.writeTotalMultiplier == 0 && back.writeTotalConstant == 0);

    SerialLineState state;
    EXPECT(serial_get_state(port, state));
    state.baudRate = 9600;
    state.dataBits = 8;
    state.parity = 0;
    state.parityCheck = false;
    state.stopBits = 2;
    state.dtrControl = 1;
    state.rtsControl = 1;
    state.ctsFlowControl = false;
    state.dsrFlowControl = false;
    state.binary = true;
    EXPECT(serial_set_state(port, state));
    SerialLineState line;
    EXPECT(serial_get_state(port, line));
    std::printf("  line %u baud, %u data bits, parity %u, stop bits code %u\n", line.baudRate, line.dataBits,
                line.parity, line.stopBits);
    EXPECT(line.baudRate == 9600 && line.dataBits == 8 && line.parity == 0 && line.stopBits == 2 &&
           !line.ctsFlowControl && !line.dsrFlowControl);
    EXPECT(serial_purge(port,
                        kPurgeAbortTransmit | kPurgeAbortReceive | kPurgeClearTransmit | kPurgeClearReceive));

    // The poll loop of the card reader: write, pause, read what has come.
    const uint8_t poll[2] = {0xF5, 0xF5};
    uint8_t reply[4] = {};
    uint32_t got = 0;
    for (int attempt = 0; attempt < 60 && got < 4; ++attempt) {
        uint32_t written = 0, errors = 0, queued = 0;
        EXPECT(serial_write(port, poll, 2, written) && written == 2);
        sleep_ms(50);
        if (!serial_clear_error(port, errors, queued) || errors != 0 || queued == 0) continue;
        uint32_t n = 0;
        EXPECT(serial_read(port, reply + got, queued < 4 - got ? queued : 4 - got, n));
        got += n;
    }
    EXPECT(got == 4);
    EXPECT(reply[0] == 0x00 && reply[1] == 0x0C && reply[2] == 0x30 && reply[3] == 0x39);
    EXPECT(serial_set_event_mask(port, 0));
    EXPECT(serial_purge(port, kPurgeClearTransmit | kPurgeClearReceive));
    serial_close(port);

    // Closed, the port opens again.
    SerialHandle reopened = serial_open(name);
    EXPECT(reopened != kNoSerialPort);
    serial_close(reopened);
}

const char* serialPortName = nullptr;

void check_serial() {
    EXPECT(serialPortName != nullptr);
    if (serialPortName) check_serial_port(serialPortName);
}

// The driver finds this line in Wine's debugger output channel.
void check_trace() {
    debug_trace("doorlink: debug trace check\n");
    debug_trace(nullptr);
}

struct Check {
    const char* name;
    void (*run)();
};

const Check kChecks[] = {
    {"paths", check_paths},         {"files", check_files},
    {"clock", check_clock},         {"threads", check_threads},
    {"sockets", check_sockets},     {"socket_handles", check_socket_handles},
    {"addresses", check_addresses}, {"serial_refusals", check_serial_refusals},
    {"trace", check_trace},
};

// Run only when named, with port=NAME: it needs the driver's card reader.
const Check kSerialCheck = {"serial", check_serial};

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    int run = 0;
    int named = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "port=", 5) == 0) serialPortName = argv[i] + 5;
        else ++named;
    }
    std::vector<Check> checks(std::begin(kChecks), std::end(kChecks));
    checks.push_back(kSerialCheck);
    for (const Check& c : checks) {
        bool wanted = named == 0 && c.run != kSerialCheck.run;
        for (int i = 1; i < argc; ++i) wanted = wanted || std::strcmp(argv[i], c.name) == 0;
        if (!wanted) continue;
        int before = failures;
        c.run();
        ++run;
        std::printf("%s: %s\n", c.name, failures == before ? "passed" : "FAILED");
    }
    if (run == 0) {
        std::printf("no such check\n");
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
