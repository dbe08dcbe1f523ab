// doorlink_wine: runs the Windows programs of a Windows build (build-win32,
// or the 64-bit build-win64 with --bits 64) under Wine, each against
// controllers simulated in this (Linux) process on loopback, and checks on
// the simulator's side what the controllers received.
//
//     doorlink_wine --build DIR --prefix DIR [--bits 32|64] prefix
//     doorlink_wine --build DIR --prefix DIR [--bits 32|64] scenario NAME
//     doorlink_wine --build DIR --prefix DIR [--bits 32|64] platform
//     doorlink_wine --build DIR --prefix DIR [--bits 32|64] serial
//     doorlink_wine --build DIR --prefix DIR [--bits 32|64] profile SCRIPT NATIVE_RUNNER
//
// Every run gets a fresh directory holding copies of the program and
// doorlink.dll, which is also its module directory. Exit status 0: passed,
// 1: failed, 77: skipped (no Wine, no Windows build, or a kernel that runs
// no 32-bit programs), with the reason.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "doorsim/card_reader.h"
#include "doorsim/simulator.h"
#include "support/readback_samples.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSkipped = 77;
constexpr int kWineTimeoutSeconds = 120;

struct Options {
    fs::path build;
    fs::path prefix;
    int bits = 32;
    std::string wine = "wine";  // the loader of programs of this word size
};

// Debian's loaders: `wine` runs the 32-bit one when it is installed, and the
// 64-bit one is started directly.
constexpr const char* kWine32Loader = "/usr/lib/wine/wine";
constexpr const char* kWine64Loader = "/usr/lib/wine/wine64";

// The skip reason of the 32-bit suite on a kernel that refuses 32-bit
// programs, and the switch that takes that path on any machine.
constexpr const char* kNo32BitPrograms =
    "32-bit programs cannot run on this kernel (ia32 emulation disabled)";
constexpr const char* kNo32BitSwitch = "DOORLINK_NO_IA32";

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

// The environment of every Wine process: our own prefix, no debug output, no
// prompts for Mono or Gecko, no menu entries, no display.
void set_wine_environment(const Options& o) {
    ::setenv("WINEPREFIX", o.prefix.c_str(), 1);
    ::setenv("WINEARCH", o.bits == 64 ? "win64" : "win32", 1);
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    // Wine wants a home directory; a bare CI environment may not name one.
    ::setenv("HOME", o.prefix.parent_path().c_str(), 0);
}

struct RunResult {
    int status = -1;  // exit status, or -1 when killed or not started
    std::string output;
    long milliseconds = 0;
};

// Runs argv in dir with its output in a file (not a pipe: a wineserver that
// the child starts must not hold this process's output open), killing it
// after the timeout.
RunResult run(const std::vector<std::string>& argv, const fs::path& dir,
              int timeoutSeconds = kWineTimeoutSeconds) {
    RunResult result;
    fs::path outputFile = dir / ".output.txt";
    // Everything the child needs is made before the fork: the simulator's
    // thread may hold the allocator's lock at that moment.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t child = ::fork();
    if (child < 0) return result;
    if (child == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(127);
        int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        for (int fd = 3; fd < 1024; ++fd) ::close(fd);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(timeoutSeconds)) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            result.output = slurp(outputFile) + "\n(killed after " + std::to_string(timeoutSeconds) + " s)\n";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
    result.output = slurp(outputFile);
    fs::remove(outputFile);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

// A fresh directory with copies of the named programs of the Windows build
// and doorlink.dll: the host's installation, and its module directory.
class RunDirectory {
public:
    RunDirectory(const Options& o, const std::vector<std::string>& programs) : options_(o) {
        std::string pattern = (fs::temp_directory_path() / "doorlink-wine-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        fs::copy_file(o.build / "doorlink.dll", path_ / "doorlink.dll");
        for (const std::string& p : programs) fs::copy_file(o.build / "tests" / p, path_ / p);
    }
    ~RunDirectory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    const Options& options() const { return options_; }

private:
    const Options& options_;
    fs::path path_;
};

RunResult run_windows_program(const RunDirectory& dir, const std::string& program,
                              const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {dir.options().wine, (dir.path() / program).string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    RunResult r = run(argv, dir.path());
    std::cout << r.output;
    std::cout << program << " exited with " << r.status << " after " << r.milliseconds << " ms\n";
    return r;
}

RunResult run_windows_program(const Options& o, const std::string& program,
                              const std::vector<std::string>& arguments) {
    RunDirectory dir(o, {program});
    return run_windows_program(dir, program, arguments);
}

// Why the suite cannot run here, or empty when it can.
std::string missing_piece(const Options& o) {
    if (o.bits == 64 && ::access(o.wine.c_str(), X_OK) != 0) {
        return "64-bit Wine is not installed (scripts/install-windows-deps.sh installs Debian's wine64 "
               "as root)";
    }
    if (o.bits == 32 && (!on_path("wine") || !fs::exists(kWine32Loader))) {
        return "Wine with its 32-bit part is not installed (scripts/install-windows-deps.sh installs "
               "it as root: dpkg --add-architecture i386, then wine and wine32:i386)";
    }
    if (!fs::exists(o.build / "doorlink.dll")) {
        return (o.build / "doorlink.dll").string() +
               " is missing (`make windows` builds it with the MinGW-w64 cross compiler)";
    }
    return {};
}

bool forced_without_32_bit_programs() {
    const char* value = std::getenv(kNo32BitSwitch);
    return value && *value && std::string(value) != "0";
}

// Whether 32-bit Windows programs run here: a trivial one is started under
// Wine. A kernel without 32-bit emulation refuses Wine's 32-bit loader
// before any prefix is touched: the shell that starts it says "Exec format
// error" and exits with 126. Returns 0 when the program ran, kSkipped (with
// the reason printed) when it could not start, 1 when it failed otherwise.
// (When the prefix does not exist yet, Wine makes it for the program.)
int probe_32_bit_programs(const Options& o, int timeoutSeconds) {
    if (forced_without_32_bit_programs()) {
        std::cout << "SKIPPED: " << kNo32BitPrograms << '\n'
                  << "(" << kNo32BitSwitch << " is set: the 32-bit probe was not run)\n";
        return kSkipped;
    }
    RunDirectory dir(o, {"probe.exe"});
    RunResult r = run({o.wine, (dir.path() / "probe.exe").string()}, dir.path(), timeoutSeconds);
    if (r.status == 0 && r.output.find("32-bit program started") != std::string::npos) return 0;
    if (r.status == 126 || r.output.find("Exec format error") != std::string::npos) {
        std::cout << "SKIPPED: " << kNo32BitPrograms << '\n' << r.output;
        return kSkipped;
    }
    std::cout << r.output << "the 32-bit probe exited with " << r.status << '\n';
    return 1;
}

int prepare_prefix(const Options& o) {
    fs::create_directories(o.prefix);
    auto start = std::chrono::steady_clock::now();
    if (!fs::exists(o.prefix / "system.reg")) {
        std::cout << "creating the Wine prefix " << o.prefix << '\n';
        RunResult r = run({o.wine, "wineboot", "--init"}, o.prefix, 300);
        // The registry files are written when the server ends.
        run({"wineserver", "-w"}, o.prefix, 120);
        if (!fs::exists(o.prefix / "system.reg")) {
            std::cout << r.output << "wineboot --init exited with " << r.status << " and left no prefix\n";
            return 1;
        }
    }
    // The serial port of the card reader check: COM40 leads to a link in the
    // prefix that the check points at a pseudo-terminal. The platform's
    // device manager reads the port table when its server starts.
    if (!fs::is_symlink(o.prefix / "dosdevices" / "com40")) {
        run({o.wine, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM40", "/d",
             (o.prefix / "card-reader").string(), "/f"},
            o.prefix, 120);
        run({"wineserver", "-k"}, o.prefix, 60);
    }
    // One server for the whole suite; it ends by itself 30 s after its last
    // client. Exit status 2: a server of this prefix is running already.
    RunResult server = run({"wineserver", "-p30"}, o.prefix, 60);
    if (server.status != 0 && server.status != 2) {
        std::cout << server.output << "wineserver -p30 exited with " << server.status << '\n';
    }
    RunResult warm = run({o.wine, "cmd", "/c", "exit"}, o.prefix, 120);
    if (!fs::is_symlink(o.prefix / "dosdevices" / "com40")) {
        std::cout << "COM40 is not set up in the prefix: the serial check will fail\n";
    }
    std::cout << "Wine prefix ready in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                       start)
                     .count()
              << " ms\n";
    return warm.status == 0 ? 0 : 1;
}

// ---- Scenarios -------------------------------------------------------------

struct Context {
    explicit Context(const Options& o) : options(o) {}
    const Options& options;
    doorsim::Simulator sim;
    int id = -1;
    std::vector<std::string> args;  // name=value arguments for winhost
    int failures = 0;
    fs::path runDirectory;  // the program's directory, there from the setup until the check is done
    std::unique_ptr<doorsim::CardReader> reader;
    std::vector<doorsim::StoredRecord> stored;  // what the controller keeps or pushes

    void expect(bool condition, const std::string& what) {
        if (!condition) {
            std::cout << "  simulator side: " << what << '\n';
            ++failures;
        }
    }
    void add_controller(const doorsim::Faults& faults = {}) {
        id = sim.add_controller({});
        sim.set_faults(id, faults);
        args.push_back("address=" + sim.address(id));
        args.push_back("mac=" + sim.mac_text(id));
    }
    std::vector<doorsim::Datagram> received() const { return sim.received(id); }

    // A file the program left in its directory.
    doorsim::Bytes file(const std::string& name) const {
        std::string text = slurp(runDirectory / name);
        return doorsim::Bytes(text.begin(), text.end());
    }
    // A value the host told in results.txt; empty when it told none.
    std::string told(const std::string& name) const {
        std::stringstream lines(slurp(runDirectory / "results.txt"));
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
        }
        return {};
    }
};

struct Scenario {
    std::function<void(Context&)> setup;
    std::function<void(Context&)> verify;
    std::string program = "winhost.exe";
    // Runs on a thread of its own while the program runs, until it returns or
    // `running` turns false.
    std::function<void(Context&, const std::atomic<bool>& running)> during = nullptr;
};

doorsim::Bytes concat(doorsim::Bytes a, const doorsim::Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

doorsim::Bytes mac_bytes(const Context& c) {
    auto m = c.sim.mac(c.id);
    return doorsim::Bytes(m.begin(), m.end());
}

doorsim::Bytes slice(const doorsim::Bytes& b, size_t at, size_t n) {
    if (at + n > b.size()) return {};
    return doorsim::Bytes(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

// The datagrams received, each as hex, for a failure message.
std::string described(const std::vector<doorsim::Datagram>& got) {
    std::string text;
    for (const auto& d : got) text += "\n    " + doorsim::hex(d.bytes);
    return text;
}

// A line as a Windows serial port starts out: raw, no software flow control
// (which the library leaves as the port has it), but at 19200 baud with 7
// data bits, even parity and one stop bit, so that the reader hears its polls
// only once the library has set the line.
void start_line_elsewhere(const std::string& device) {
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0) throw std::runtime_error("cannot set up " + device);
    ::cfmakeraw(&t);
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE | CSTOPB)) | CS7 | PARENB;
    ::cfsetispeed(&t, B19200);
    ::cfsetospeed(&t, B19200);
    const bool set = ::tcsetattr(fd, TCSANOW, &t) == 0;
    ::close(fd);
    if (!set) throw std::runtime_error("cannot set up " + device);
}

// Whether this process may open an ICMP socket: a raw one, or an unprivileged
// datagram one (Wine falls back to it when the raw one is refused).
bool icmp_socket_allowed() {
    for (int type : {SOCK_RAW, SOCK_DGRAM}) {
        int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
    }
    return false;
}

uint16_t free_udp_port() {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
}

// ---- Records: what the files under the run directory must hold ----------

int local_century() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return (local.tm_year + 1900) / 100 * 100;
}

// The card text and the fourteen digits of the record's time.
std::string record_stamp(const doorsim::StoredRecord& r) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%04d%02d%02d%02d%02d%02d", doorsim::card_text(r.site, r.card).c_str(),
                  local_century() + r.year, r.month, r.day, r.hour, r.minute, r.second);
    return text;
}

std::string record_line(const doorsim::StoredRecord& r, int controller, int kind) {
    const std::string stamp = record_stamp(r);
    char text[64];
    std::snprintf(text, sizeof text, "%s,%s,%03d,%d", stamp.substr(0, 8).c_str(), stamp.substr(8).c_str(),
                  controller, kind);
    return text;
}

// Lines as a Windows host's C runtime writes them to a file opened as text.
std::string windows_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

doorsim::Bytes bytes_of(const std::string& text) { return doorsim::Bytes(text.begin(), text.end()); }

// The names in a directory of the run directory, sorted.
std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A file name holding a backslash: a path the DLL formed that did not become
// directories.
std::string backslash_name(const fs::path& dir) {
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(dir, error)) {
        if (entry.path().filename().string().find('\\') != std::string::npos) return entry.path();
    }
    return {};
}

// The retrieval record files of controller N in cardinfo: each named after
// the local time at the start of its call (within the last minutes) and N,
// with "_2", "_3" ... after N when calls started in the same second, and
// each holding the lines.
void expect_retrieval_files(Context& c, int controller, size_t atMost, const std::string& lines) {
    const std::vector<std::string> names = names_in(c.runDirectory / "cardinfo");
    c.expect(!names.empty() && names.size() <= atMost,
             std::to_string(names.size()) + " retrieval record files in cardinfo");
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%03d.txt", controller);
    for (const std::string& fileName : names) {
        std::string name = fileName;
        const size_t mark = name.find('_');
        if (mark != std::string::npos && name.size() > mark + 5 &&
            std::all_of(name.begin() + static_cast<long>(mark) + 1, name.end() - 4, ::isdigit)) {
            name.erase(mark, name.size() - 4 - mark);
        }
        std::tm t{};
        bool named = name.size() == 21 && name.substr(14) == suffix &&
                     std::all_of(name.begin(), name.begin() + 14, ::isdigit) &&
                     std::sscanf(name.c_str(), "%4d%2d%2d%2d%2d%2d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                                 &t.tm_hour, &t.tm_min, &t.tm_sec) == 6;
        t.tm_year -= 1900;
        t.tm_mon -= 1;
        t.tm_isdst = -1;
        const double age = named ? std::difftime(std::time(nullptr), std::mktime(&t)) : -1;
        c.expect(named && age >= -5 && age < 600, "retrieval record file name " + fileName);
        c.expect(c.file("cardinfo/" + fileName) == bytes_of(lines),
                 "cardinfo/" + fileName + ":\n" + slurp(c.runDirectory / "cardinfo" / fileName));
    }
}

// The error report of the pushed scenario.
const char* const kErrorReport = "door 2 forced";

// The photo file of a live photo: the 1024 image bytes of every block.
doorsim::Bytes padded(const doorsim::Bytes& photo) {
    doorsim::Bytes out = photo;
    out.resize((photo.size() + 1023) / 1024 * 1024, 0);
    return out;
}

std::vector<std::string> header_exports() {
    std::vector<std::string> names;
    std::stringstream list(DOORLINK_EXPORT_NAMES);
    std::string name;
    while (std::getline(list, name, ',')) names.push_back(name);
    return names;
}

const std::map<std::string, Scenario>& scenarios() {
    static const std::map<std::string, Scenario> table = {
        {"exports",
         {[](Context& c) {
              c.args = header_exports();
              c.args.push_back(std::string("version=") + DOORLINK_VERSION);
          },
          [](Context&) {}}},
        {"clock",
         {[](Context& c) {
              c.add_controller();
              c.sim.update_state(c.id,
                                 [](doorsim::ControllerState& s) { s.clockOffsetSeconds = -400 * 86400; });
          },
          [](Context& c) {
              auto state = c.sim.state(c.id);
              c.expect(state.clockSets == 1, "one clock set");
              // GetLocalTime under Wine is this machine's local time.
              c.expect(std::abs(state.clockOffsetSeconds) <= 5,
                       "the clock was set to the local time, offset " +
                           std::to_string(state.clockOffsetSeconds) + " s");
              auto got = c.received();
              c.expect(got.size() == 3, "three requests, got " + std::to_string(got.size()));
              if (!got.empty()) {
                  const doorsim::Bytes& r = got[0].bytes;
                  c.expect(r.size() == 32 && r[0] == 0x43 && r[4] == 0x99 &&
                               std::equal(r.begin() + 5, r.begin() + 18, r.begin() + 18),
                           "set request " + doorsim::hex(r));
              }
          }}},
        {"clock_to",
         {[](Context& c) { c.add_controller(); },
          [](Context& c) {
              c.expect(c.sim.state(c.id).clockSets == 1, "one clock set");
              auto got = c.received();
              c.expect(got.size() == 2, "two requests, got " + std::to_string(got.size()));
              // Tuesday 2030-12-31 23:59:50 in both blocks, whatever this host's zone.
              const doorsim::Bytes block = concat({2, 30, 12, 31, 23, 59, 50}, mac_bytes(c));
              const doorsim::Bytes expected =
                  concat(concat(concat({0x43, 0x34, 0x44, 0x54, 0x99}, block), block), {0x00});
              if (!got.empty())
                  c.expect(got[0].bytes == expected, "set request " + doorsim::hex(got[0].bytes));
          }}},
        {"refusals",
         {[](Context& c) { c.add_controller(); },
          [](Context& c) { c.expect(c.received().empty(), "no datagram for refused arguments"); }}},
        {"port_range",
         {[](Context& c) {
              c.add_controller();
              c.args.push_back("port=" + std::to_string(free_udp_port()));
          },
          [](Context& c) {
              uint16_t port = 0;
              for (const std::string& a : c.args)
                  if (a.rfind("port=", 0) == 0) port = static_cast<uint16_t>(std::stoi(a.substr(5)));
              auto got = c.received();
              c.expect(got.size() == 2, "two requests, got " + std::to_string(got.size()));
              for (const auto& d : got)
                  c.expect(d.fromPort == port,
                           "sent from port " + std::to_string(d.fromPort) + ", not " + std::to_string(port));
          }}},
        {"silent",
         {[](Context& c) {
              doorsim::Faults f;
              f.silent = true;
              c.add_controller(f);
          },
          [](Context& c) {
              c.expect(c.received().size() == 2,
                       "one request per call, got " + std::to_string(c.received().size()));
          }}},
        {"adaptive_wait",
         {[](Context& c) {
              doorsim::Faults f;
              f.ignoreNext = 1;
              c.add_controller(f);
              ::setenv("DOORLINK_ADAPTIVE_WAIT", "20", 1);  // for the program, which Wine gives it
          },
          [](Context& c) {
              c.expect(c.received().size() == 2,
                       "the ignored request and its resend, got " + std::to_string(c.received().size()));
          }}},
        {"wrong_replies",
         {[](Context& c) {
              doorsim::Faults f;
              f.wrongRepliesFirst = 3;
              c.add_controller(f);
          },
          [](Context& c) {
              c.expect(c.received().size() == 4, "the request sent again after each wrong reply, got " +
                                                     std::to_string(c.received().size()));
          }}},
        {"threads",
         {[](Context& c) { c.add_controller(); },
          [](Context& c) {
              c.expect(c.received().size() == 20,
                       "twenty requests, got " + std::to_string(c.received().size()));
          }}},
        {"import_library",
         {[](Context& c) {
              c.add_controller();
              c.args = {c.sim.address(c.id), c.sim.mac_text(c.id)};
          },
          [](Context& c) { c.expect(c.sim.state(c.id).clockSets == 2, "two clock sets"); },
          "implib_host.exe"}},
        {"doors",
         {[](Context& c) {
              c.add_controller();
              c.sim.update_state(c.id, [](doorsim::ControllerState& s) {
                  s.doors.currentState = {2, 2};
                  s.doors.records = 300;
                  s.doors.direction = 5;
                  for (uint8_t i = 0; i < 14; ++i) s.doors.stateReplies[1][i] = 0x40 + i;
                  s.doors.stateReplies[2] = doorsim::Bytes(10, 0x22);
                  s.doors.stateReplies[3] = doorsim::Bytes(10, 0x33);
              });
          },
          [](Context& c) {
              auto doors = c.sim.state(c.id).doors;
              c.expect(doors.forcedActuations == std::array<int, 4>{0, 0, 1, 1},
                       "actuations of doors 2 and 3");
              c.expect(doors.lastActuationExtra == 254, "the extra byte 254");
              c.expect(doors.initialisations == 1, "one initialisation");
              auto got = c.received();
              // Two actuations, the initialisation, two state queries, the
              // record query and three raw state queries; no door 4.
              c.expect(got.size() == 9, "nine requests, got" + described(got));
              if (got.size() < 9) return;
              const doorsim::Bytes m = mac_bytes(c);
              c.expect(
                  got[0].bytes ==
                      concat({0x63, 0x36, 0x46, 0x56, 0x11, 0x22, 0x53, 0x35, 0x45, 0x55, 0x00, 0x11}, m),
                  "door 2 actuation " + doorsim::hex(got[0].bytes));
              c.expect(got[1].bytes == concat(concat({0x63, 0x36, 0x46, 0x56, 0x11, 0x22, 0x54, 0x45, 0x55,
                                                      0x65, 0x11, 0x22, 0xFE},
                                                     m),
                                              {0x00}),
                       "door 3 actuation " + doorsim::hex(got[1].bytes));
              c.expect(got[2].bytes == concat(concat({0x31, 0x13, 0x23, 0x33, 0x66}, m), {0x00}),
                       "initialisation " + doorsim::hex(got[2].bytes));
              c.expect(got[3].bytes == concat({0x82, 0x28, 0x38, 0x48, 0x22, 0x04}, m),
                       "state query " + doorsim::hex(got[3].bytes));
              c.expect(got[5].bytes == concat({0x83, 0x38, 0x48, 0x58, 0x33, 0x01}, m),
                       "record query " + doorsim::hex(got[5].bytes));
              c.expect(got[6].bytes == concat({0x82, 0x28, 0x38, 0x48, 0x22, 0x01}, m),
                       "raw state query " + doorsim::hex(got[6].bytes));
          }}},
        {"door_times",
         {[](Context& c) { c.add_controller(); },
          [](Context& c) {
              auto doors = c.sim.state(c.id).doors;
              doorsim::Bytes lock(20, 0);
              const doorsim::Bytes items = {0x08, 0x00, 0x0C, 0x00, 0x01, 0x0D, 0x00, 0x11, 0x1E, 0x02};
              std::copy(items.begin(), items.end(), lock.begin());
              c.expect(doors.longTimeItems && doors.lockSlots == lock,
                       "long lock items " + doorsim::hex(doors.lockSlots));
              c.expect(slice(doors.buttonSlots, 0, 5) == doorsim::Bytes{0x07, 0x00, 0x08, 0x00, 0x03},
                       "long button items " + doorsim::hex(doors.buttonSlots));
              c.expect(doors.modes == std::array<uint8_t, 3>{1, 2, 3}, "modes 1 2 3");
              c.expect(doors.week == std::array<uint8_t, 7>{0, 0, 0, 0, 0, 1, 1}, "rest on Fri, Sat");
              c.expect(doors.restDays[0] == 1 && doors.restDays[1] == 1 && doors.restDays[2] == 12 &&
                           doors.restDays[3] == 25 && doors.restDays[4] == 0,
                       "rest days 01-01 and 12-25");
              c.expect(doors.cardFlags.count({0x7B, 0xB2, 0x6E}) == 1, "the flag of card 12345678");
              c.expect(doors.photoTests == 1, "one photo test");
              auto got = c.received();
              const doorsim::Bytes m = mac_bytes(c);
              c.expect(!got.empty() && got[0].bytes.size() == 50 &&
                           slice(got[0].bytes, 0, 12) ==
                               doorsim::Bytes{0x62, 0x26, 0x36, 0x46, 0x00, 0x11, 2, 2, 2, 2, 2, 2} &&
                           slice(got[0].bytes, 12, 4) == doorsim::Bytes{0x08, 0x1E, 0x11, 0x1E} &&
                           slice(got[0].bytes, 28, 2) == doorsim::Bytes{0x08, 0x1E} &&
                           slice(got[0].bytes, 44, 6) == m,
                       "short time items" + described(got));
              // Lock times, long times, modes, rest days, five flags, photo test.
              c.expect(got.size() == 10, "ten requests, got" + described(got));
          }}},
        {"scout",
         {[](Context& c) { c.add_controller(); },
          [](Context& c) {
              auto got = c.received();
              c.expect(got.size() >= 2, "two monitoring requests, got" + described(got));
              if (got.size() < 2) return;
              c.expect(got[0].bytes == doorsim::Bytes{0x91, 0x19, 0x29, 0x39, 0x22, 0x00},
                       "monitoring request " + doorsim::hex(got[0].bytes));
              c.expect(got[1].bytes == doorsim::Bytes{0x91, 0x19, 0x29, 0x39, 0x22, 0x03, 0x00, 0x00},
                       "monitoring request with extra byte " + doorsim::hex(got[1].bytes));
              c.expect(std::to_string(got[0].fromPort) == c.told("scout_port"),
                       "the handed socket is the one that asked, port " + c.told("scout_port"));
              c.expect(std::to_string(got[1].fromPort) == c.told("scout1_port"),
                       "the second handed socket is the one that asked");
              const std::string host = c.told("host_address");
              if (host == "none" || host.empty()) {
                  c.expect(got.size() == 2, "no return-address request without a host address");
                  return;
              }
              c.expect(got.size() == 3, "a return-address request, got" + described(got));
              if (got.size() < 3) return;
              const doorsim::Bytes& r = got[2].bytes;
              const std::string port = c.told("transip_port");
              c.expect(r.size() == 30 && std::to_string(r[10] << 8 | r[11]) == port &&
                           std::to_string(got[2].fromPort) == port,
                       "return address with the handed socket's port " + port + ": " + doorsim::hex(r));
              char octets[32];
              if (r.size() == 30) {
                  std::snprintf(octets, sizeof octets, "%u.%u.%u.%u", r[6], r[7], r[8], r[9]);
                  c.expect(host == octets, std::string("host address ") + octets + ", not " + host);
                  c.expect(r[6] == 127, "a controller on loopback is told a loopback address");
                  c.expect(slice(r, 12, 6) == mac_bytes(c), "the MAC in the return address");
              }
          },
          "winhost.exe",
          // Once the controller knows where to report, it pushes three bytes.
          [](Context& c, const std::atomic<bool>& running) {
              while (running) {
                  if (c.sim.state(c.id).monitor.set) {
                      c.sim.push(c.id, {0x5A, 0xA5, 0x01});
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }}},
        {"discovery",
         {[](Context& c) {
              c.add_controller();
              c.sim.update_state(c.id, [](doorsim::ControllerState& s) {
                  s.deviceNumber = 9;
                  s.mask = {255, 255, 0, 0};
                  s.gateway = {127, 0, 0, 1};
                  s.imageMode = 3;
                  s.timeValue = 42;
              });
              std::string moved = doorsim::find_free_loopback_address();
              if (moved.empty() || moved == c.sim.address(c.id)) {
                  throw std::runtime_error("no second loopback address to move to");
              }
              c.args.push_back("moved=" + moved);
          },
          [](Context& c) {
              auto got = c.received();
              // Five discovery requests, the settings, and the clock query at
              // the new address.
              c.expect(got.size() == 7 && got[5].bytes.size() == 48 && got[6].bytes[0] == 0x83,
                       "five discovery requests, the settings and a query, got" + described(got));
              for (size_t i = 0; i < 5 && i < got.size(); ++i) {
                  c.expect(got[i].bytes == doorsim::Bytes{0x48, 0x84, 0x94, 0x04, 0x44, 0x00},
                           "discovery request " + doorsim::hex(got[i].bytes));
              }
              auto state = c.sim.state(c.id);
              c.expect("moved=" + state.address == c.args.back(), "moved to " + state.address);
              c.expect(state.deviceNumber == 254 && state.timeValue == 99,
                       "device number 254, time value 99");
              // The registry file as the platform's profile functions left it.
              std::string registry = slurp(c.runDirectory / "eqminfo.ini");
              c.expect(registry.find("[EqmIP]\r\nEqmIP1=" + state.address + "\r\n") != std::string::npos,
                       "the entry in eqminfo.ini:\n" + registry);
          }}},
        {"mac",
         {[](Context& c) { c.add_controller(); },
          [](Context& c) {
              c.expect(c.sim.mac_text(c.id) == "02abcd000007", "MAC now " + c.sim.mac_text(c.id));
              auto got = c.received();
              // Two MAC requests, the MAC change and the clock query.
              c.expect(got.size() == 4, "four requests, got" + described(got));
              if (got.size() < 4) return;
              c.expect(got[0].bytes.size() == 30 &&
                           slice(got[0].bytes, 0, 6) == doorsim::Bytes{0x34, 0x43, 0x53, 0x63, 0x99, 0x03},
                       "MAC query " + doorsim::hex(got[0].bytes));
              c.expect(got[1].bytes.size() == 30, "MAC change " + doorsim::hex(got[1].bytes));
              const doorsim::Bytes newMac = {0x02, 0xAB, 0xCD, 0x00, 0x00, 0x07};
              c.expect(got[2].bytes.size() == 18 && slice(got[2].bytes, 5, 6) == newMac &&
                           slice(got[2].bytes, 11, 6) == newMac,
                       "new MAC " + doorsim::hex(got[2].bytes));
          }}},
        {"ping",
         {[](Context& c) {
              c.args.push_back(std::string("expect=") + (icmp_socket_allowed() ? "answer" : "refused"));
          },
          [](Context& c) {
              std::string status = slurp(c.runDirectory / "ping.ini");
              if (c.args.back() == "expect=answer") {
                  // The success text keeps its newline in the file.
                  c.expect(status.find("PingStatue1=64 bytes from 127.0.0.1:icmp_seq = 0.time: ") !=
                                   std::string::npos &&
                               status.find(" ms\n") != std::string::npos,
                           "ping.ini:\n" + status);
              }
          }}},
        {"cardlists",
         {[](Context& c) { c.add_controller(); },
          [](Context& c) {
              auto cards = c.sim.state(c.id).cards;
              const doorsim::Bytes list = c.file("list/doorname007.dat");
              const doorsim::Bytes readBack = c.file("list/ReCardInfo007.dat");
              constexpr size_t kCards = 101;  // as winhost.c writes them
              c.expect(cards.records.size() == kCards, std::to_string(cards.records.size()) + " records");
              c.expect(cards.recordsStored == 5 * kCards, "five copies of each record");
              c.expect(list.size() == kCards * 300 && readBack.size() == kCards * 360, "file sizes");
              if (cards.records.size() != kCards || list.size() != kCards * 300 ||
                  readBack.size() != kCards * 360)
                  return;
              int differences = 0;
              for (size_t i = 0; i < kCards; ++i) {
                  doorsim::Bytes stored(cards.records[i].begin(), cards.records[i].end());
                  doorsim::Bytes expected = slice(list, i * 300, 300);
                  expected.resize(360, 0);
                  differences += stored != expected;
                  differences += slice(readBack, i * 360, 360) != stored;
              }
              c.expect(differences == 0, std::to_string(differences) + " records differ");
          }}},
        {"readback_ini",
         {[](Context& c) {
              // An old INI is replaced, not written into; a file that is no
              // whole number of records gives none.
              std::ofstream(c.runDirectory / "ReCard001.ini")
                  << "[Old]\r\nKey=1\r\n[CardNo]\r\nCardNo9=y\r\n";
              std::string numbers;
              for (const auto& sample : doorlink::testing::readback_samples()) {
                  doorlink::testing::write_sample(c.runDirectory.string(), sample);
                  numbers += (numbers.empty() ? "" : ",") + std::to_string(sample.number);
              }
              std::ofstream(c.runDirectory / "ReCardInfo009.dat", std::ios::binary) << std::string(721, '\0');
              std::ofstream(c.runDirectory / "ReCard009.ini") << "[CardNo]\r\nCardNo1=00100001\r\n";
              c.args = {"numbers=" + numbers, "refused=9"};
          },
          [](Context& c) {
              for (const auto& sample : doorlink::testing::readback_samples()) {
                  const doorsim::Bytes ini = c.file(doorlink::testing::ini_name(sample));
                  if (sample.windowsSize != 0) {
                      c.expect(
                          ini.size() == sample.windowsSize &&
                              doorlink::testing::fnv1a(ini) == sample.windowsHash,
                          sample.name + ": " + std::to_string(ini.size()) + " bytes, not those of before");
                  } else {
                      const std::string golden = slurp(fs::path(DOORLINK_GOLDEN_DIR) / "readback_ini" /
                                                       (sample.name + ".windows.ini"));
                      c.expect(!golden.empty() && ini == bytes_of(golden),
                               sample.name + ":\n" + std::string(ini.begin(), ini.end()));
                  }
              }
              c.expect(!fs::exists(c.runDirectory / "ReCard009.ini"), "ReCard009.ini is still there");
          }}},
        {"framed",
         {[](Context& c) {
              c.add_controller();
              c.sim.update_state(c.id, [](doorsim::ControllerState& s) {
                  s.framed.node = 0x1234;
                  s.framed.station = {0x01, 0x02};
              });
              c.args.push_back("node=" + std::to_string(0x1234));
          },
          [](Context& c) {
              auto got = c.received();
              c.expect(got.size() == 3, "three frames, got" + described(got));
              if (got.empty()) return;
              c.expect(got[0].bytes == doorsim::Bytes{0xA3, 0xA8, 0x00, 0x03, 0x00, 0x00, 0x12, 0x34, 0,
                                                      0,    0,    0,    0x01, 0x02, 0,    0,    0,    0x01,
                                                      'a',  'b',  'c',  0,    0,    0,    0},
                       "echo frame " + doorsim::hex(got[0].bytes));
              c.expect(c.sim.state(c.id).framed.answered == 2, "two frames answered");
          }}},
        {"card_reader",
         {[](Context& c) {
              const fs::path link = c.options.prefix / "card-reader";
              if (!fs::is_symlink(c.options.prefix / "dosdevices" / "com40")) {
                  throw std::runtime_error("COM40 is not set up in the Wine prefix");
              }
              c.reader = std::make_unique<doorsim::CardReader>();
              start_line_elsewhere(c.reader->path());
              c.reader->set_card(doorsim::Card{0x00, 0x0C, 0x30, 0x39});
              c.reader->start();
              fs::path temp = link.string() + ".new";
              fs::remove(temp);
              fs::create_symlink(c.reader->path(), temp);
              fs::rename(temp, link);
              c.args.push_back("port=\\\\.\\COM40");
          },
          [](Context& c) {
              doorsim::CardReader::Line line = c.reader->line();
              c.expect(c.reader->replies() >= 2,
                       "two cards read, " + std::to_string(c.reader->replies()) + " replies");
              c.expect(c.reader->misframed() == 0, "no poll on a wrongly set line");
              c.expect(
                  line.baud == 9600 && line.dataBits == 8 && line.stopBits == 2 && !line.parity && line.raw,
                  "line " + std::to_string(line.baud) + " baud, " + std::to_string(line.dataBits) +
                      " data bits, " + std::to_string(line.stopBits) + " stop bits, " +
                      (line.parity ? "parity" : "no parity") + (line.raw ? ", raw" : ", not raw"));
              c.reader->stop();
          }}},
        {"records",
         {[](Context& c) {
              c.add_controller();
              // Eleven photos: image 1 gives the total, image 10 the progress.
              c.stored = doorsim::sample_records(11, 120, 90);
              c.sim.update_state(c.id, [&](doorsim::ControllerState& s) { s.records.records = c.stored; });
              c.args.push_back("total=" + std::to_string(c.stored.size()));
          },
          [](Context& c) {
              std::vector<std::string> lines;
              for (const auto& r : c.stored) lines.push_back(record_line(r, 7, 1));
              const std::string once = windows_lines(lines);
              // Both retrievals appended to the controller record file.
              c.expect(c.file("mj007.txt") == bytes_of(once + once),
                       "mj007.txt:\n" + slurp(c.runDirectory / "mj007.txt"));
              // Two calls within a second share the name of their file.
              expect_retrieval_files(c, 7, 2, once);
              int wrong = 0;
              for (size_t i = 0; i < c.stored.size(); ++i) {
                  const auto& r = c.stored[i];
                  char name[64];
                  std::snprintf(name, sizeof name, "%s007%04zu.jpg", record_stamp(r).c_str(), i + 1);
                  const std::string final = "pic/" + doorsim::card_text(r.site, r.card) + "/" + name;
                  // The second time the final name was taken: the photo kept
                  // its temporary name.
                  const std::string temporary = "pic/007" + std::to_string(i) + ".jpg";
                  for (const std::string& file : {final, temporary}) {
                      const doorsim::Bytes got = c.file(file);
                      if (got == r.photo) continue;
                      size_t at = 0;
                      while (at < got.size() && at < r.photo.size() && got[at] == r.photo[at]) ++at;
                      if (++wrong > 3) continue;
                      c.expect(false, file + " is not the controller's photo: " + std::to_string(got.size()) +
                                          " bytes, not " + std::to_string(r.photo.size()) +
                                          ", the first difference at " + std::to_string(at));
                  }
              }
              c.expect(wrong == 0, std::to_string(wrong) + " photo files differ");
              // A directory per card, the kept temporary files and the empty
              // one of the image after the last.
              std::set<std::string> cards;
              for (const auto& r : c.stored) cards.insert(doorsim::card_text(r.site, r.card));
              size_t directories = 0, files = 0;
              for (const std::string& name : names_in(c.runDirectory / "pic")) {
                  if (fs::is_directory(c.runDirectory / "pic" / name)) directories += cards.count(name);
                  else ++files;
              }
              c.expect(directories == cards.size() && files == c.stored.size() + 1,
                       std::to_string(directories) + " card directories and " + std::to_string(files) +
                           " files in pic");
              const std::string odd = backslash_name(c.runDirectory);
              c.expect(odd.empty(), "a file named with a backslash: " + odd);
              auto records = c.sim.state(c.id).records;
              c.expect(records.retrievals == 2 && records.resendRequests == 0,
                       std::to_string(records.retrievals) + " retrievals, " +
                           std::to_string(records.resendRequests) + " resend requests");
              auto got = c.received();
              const doorsim::Bytes request =
                  concat(concat({0x41, 0x14, 0x24, 0x34, 0x77}, mac_bytes(c)), {0x00});
              c.expect(!got.empty() && got[0].bytes == request,
                       "retrieval request" + described({got.empty() ? doorsim::Datagram{} : got[0]}));
          }}},
        {"records_transfer",
         {[](Context& c) {
              c.add_controller();
              // Three blocks: 64, 64 and 10 records.
              c.stored = doorsim::sample_records(138, 0);
              c.sim.update_state(c.id, [&](doorsim::ControllerState& s) { s.records.records = c.stored; });
              c.args.push_back("total=138");
          },
          [](Context& c) {
              std::vector<std::string> lines;
              for (const auto& r : c.stored) lines.push_back(record_line(r, 12, r.kind));
              const std::string text = windows_lines(lines);
              c.expect(c.file("mj012.txt") == bytes_of(text),
                       "mj012.txt:\n" + slurp(c.runDirectory / "mj012.txt"));
              expect_retrieval_files(c, 12, 1, text);
              c.expect(!fs::exists(c.runDirectory / "pic"), "no photo directory");
              c.expect(c.sim.state(c.id).records.transfersCompleted == 1, "the transfer completed");
              // The request, the block requests for blocks 2 and 3 and the
              // final one, each six times.
              auto got = c.received();
              const doorsim::Bytes m = mac_bytes(c);
              const doorsim::Bytes request = concat(concat({0x40, 0x14, 0x24, 0x34, 0x66}, m), {0x00});
              const doorsim::Bytes final =
                  concat(concat({0xFF, 0xFF, 0x00, 0x03, 0x00, 0x03}, slice(m, 1, 5)), {0x00});
              const std::vector<doorsim::Bytes> expected = {
                  request, {0xFF, 0xFF, 0x00, 0x03, 0x00, 0x01}, {0xFF, 0xFF, 0x00, 0x03, 0x00, 0x02}, final};
              bool same = got.size() == 24;
              for (size_t i = 0; same && i < got.size(); ++i) same = got[i].bytes == expected[i / 6];
              c.expect(same, "requests" + described(got));
          }}},
        {"pushed",
         {[](Context& c) {
              c.add_controller();
              // A live photo of three blocks.
              doorsim::StoredRecord r;
              for (int width = 60; width < 400; width += 10) {
                  r = doorsim::make_record(5, 0x0102, std::time(nullptr), 1, width, width * 3 / 4);
                  if ((r.photo.size() + 1023) / 1024 == 3) break;
              }
              if ((r.photo.size() + 1023) / 1024 != 3) throw std::runtime_error("no photo of three blocks");
              c.stored = {r};
              c.args.push_back(std::string("report=") + kErrorReport);
          },
          [](Context& c) {
              const doorsim::StoredRecord& r = c.stored[0];
              c.expect(c.told("card") == "00500258", "card text " + c.told("card"));
              char when[32];
              std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", local_century() + r.year, r.month,
                            r.day, r.hour, r.minute);
              c.expect(c.told("time") == when, "time text " + c.told("time") + ", not " + when);
              const std::string log = std::string("\xBB\xFA\xBA\xC5: 003\r\n") + kErrorReport + "\r\n";
              c.expect(c.file("error/error003.txt") == bytes_of(log),
                       "error/error003.txt: " + doorsim::hex(c.file("error/error003.txt")));
              c.expect(c.file("curpic/00500258.jpg") == padded(r.photo),
                       "curpic/00500258.jpg holds " + std::to_string(c.file("curpic/00500258.jpg").size()) +
                           " bytes, not the photo's three blocks");
              // The monitoring request, then one resend request echoing
              // bytes 1034-1039 of the early block 2.
              auto got = c.received();
              doorsim::Bytes resend = {0x73, 0x37, 0x47, 0x57};
              const auto blocks = doorsim::live_photo_blocks(r, 1);
              resend.insert(resend.end(), blocks[2].begin() + 1034, blocks[2].begin() + 1040);
              const doorsim::Bytes monitoring = {0x91, 0x19, 0x29, 0x39, 0x22, 0x00};
              c.expect(got.size() == 2 && got[0].bytes == monitoring && got[1].bytes == resend,
                       "the monitoring request and one resend request, got" + described(got));
          },
          "winhost.exe",
          // Once the controller knows where to report: an acknowledgement
          // pattern and an empty datagram, which ErrorScore skips, the error
          // report, and the photo with block 2 early.
          [](Context& c, const std::atomic<bool>& running) {
              while (running && !c.sim.state(c.id).monitor.set) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
              if (!running) return;
              c.sim.push(c.id, {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA});
              c.sim.push(c.id, {});
              doorsim::push_error_report(c.sim, c.id, kErrorReport);
              doorsim::push_live_photo(c.sim, c.id, c.stored[0], {0, 2, 1});
          }}},
    };
    return table;
}

int run_scenario(const Options& o, const std::string& name) {
    auto it = scenarios().find(name);
    if (it == scenarios().end()) {
        std::cout << "unknown scenario " << name << '\n';
        return 2;
    }
    const Scenario& s = it->second;
    Context c(o);
    RunDirectory dir(o, {s.program});
    c.runDirectory = dir.path();
    s.setup(c);
    c.sim.start();
    std::vector<std::string> arguments;
    if (s.program == "winhost.exe") arguments.push_back(name);
    arguments.insert(arguments.end(), c.args.begin(), c.args.end());
    std::atomic<bool> running{true};
    std::thread helper;
    if (s.during) helper = std::thread([&] { s.during(c, running); });
    RunResult r = run_windows_program(dir, s.program, arguments);
    running = false;
    if (helper.joinable()) helper.join();
    c.sim.stop();
    s.verify(c);
    bool passed = r.status == 0 && c.failures == 0;
    std::cout << "windows scenario " << name << ": " << (passed ? "passed" : "FAILED") << '\n';
    return passed ? 0 : 1;
}

// The backend's checks, with Wine showing what goes to the debugger output.
int run_platform_checks(const Options& o) {
    ::setenv("WINEDEBUG", "-all,+debugstr", 1);
    RunResult r = run_windows_program(o, "platform_check.exe", {});
    bool traced = r.output.find("OutputDebugStringA \"doorlink: debug trace check\\n\"") != std::string::npos;
    if (!traced) std::cout << "  the trace line did not reach the debugger output\n";
    return r.status == 0 && traced ? 0 : 1;
}

// A card reader on the master side of a pseudo-terminal whose slave side is
// COM40 of the prefix: every poll 0xF5 0xF5 gets the four card bytes.
class CardReader {
public:
    explicit CardReader(const fs::path& link) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        std::string slave = ::ptsname(master_);
        // Holding the slave open keeps the line up while the port is closed.
        slave_ = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        ::tcgetattr(master_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
        fs::path temp = link.string() + ".new";
        fs::remove(temp);
        fs::create_symlink(slave, temp);
        fs::rename(temp, link);
        thread_ = std::thread([this] { serve(); });
    }
    ~CardReader() {
        stop_ = true;
        thread_.join();
        ::close(slave_);
        ::close(master_);
    }
    int polls() const { return polls_; }

private:
    void serve() {
        std::string pending;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN)) continue;
            char buffer[64];
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) continue;
            pending.append(buffer, static_cast<size_t>(n));
            size_t at;
            while ((at = pending.find("\xF5\xF5")) != std::string::npos) {
                pending.erase(0, at + 2);
                ++polls_;
                const uint8_t card[4] = {0x00, 0x0C, 0x30, 0x39};
                if (::write(master_, card, sizeof card) != sizeof card) break;
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> polls_{0};
    std::thread thread_;
};

int run_serial_check(const Options& o) {
    if (!fs::is_symlink(o.prefix / "dosdevices" / "com40")) {
        std::cout << "COM40 is not set up in the Wine prefix (`doorlink_wine prefix` does it)\n";
        return 1;
    }
    CardReader reader(o.prefix / "card-reader");
    RunResult r = run_windows_program(o, "platform_check.exe", {"serial", "port=\\\\.\\COM40"});
    std::cout << "the card reader answered " << reader.polls() << " polls\n";
    return r.status == 0 && reader.polls() > 0 ? 0 : 1;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

// Line by line; prints every difference and returns their count, or 1 for
// no output at all.
int compare_outputs(const std::string& nameA, const std::string& a, const std::string& nameB,
                    const std::string& b) {
    std::vector<std::string> x = lines_of(a), y = lines_of(b);
    int differences = 0;
    for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
        std::string left = i < x.size() ? x[i] : "<none>";
        std::string right = i < y.size() ? y[i] : "<none>";
        if (left != right) {
            std::cout << "  " << nameA << ": " << left << "\n  " << nameB << ": " << right << '\n';
            ++differences;
        }
    }
    std::cout << nameA << " / " << nameB << ": " << x.size() << " results compared, " << differences
              << " differ\n";
    return x.empty() ? 1 : differences;
}

// One run of the script runner, native or under Wine, in its own directory.
struct ScriptRun {
    RunDirectory dir;
    RunResult result;
    ScriptRun(const Options& o, bool windows, const fs::path& script)
        : dir(o, windows ? std::vector<std::string>{"profile_script.exe"} : std::vector<std::string>{}) {
        fs::copy_file(script, dir.path() / "script.txt");
    }
    bool run_part(bool windows, const fs::path& native, const std::string& part) {
        std::vector<std::string> argv;
        if (windows) argv = {dir.options().wine, (dir.path() / "profile_script.exe").string()};
        else argv = {native.string()};
        argv.push_back("script.txt");
        if (!part.empty()) argv.push_back(part);
        result = run(argv, dir.path(), kWineTimeoutSeconds);
        if (result.status != 0)
            std::cout << result.output << "script runner exited with " << result.status << '\n';
        return result.status == 0;
    }
    fs::path file() const { return dir.path() / "profile.ini"; }
};

// The same script through the POSIX profile store and through the platform's
// profile functions under Wine: every result must agree. A script with a
// "swap" line then has each side read, in its part 2, the file that the
// other side wrote in part 1.
int run_profile_differential(const Options& o, const fs::path& script, const fs::path& native) {
    bool swaps = slurp(script).find("\nswap\n") != std::string::npos;
    ScriptRun posixRun(o, false, script), wineRun(o, true, script);
    if (!posixRun.run_part(false, native, swaps ? "1" : "") ||
        !wineRun.run_part(true, native, swaps ? "1" : "")) {
        return 1;
    }
    int differences = compare_outputs("POSIX store", posixRun.result.output, "Wine", wineRun.result.output);
    if (!swaps) return differences == 0 ? 0 : 1;

    // Part 2: the POSIX store reads its own file and Wine's; Wine reads the
    // POSIX store's file.
    ScriptRun own(o, false, script), posixReadsWine(o, false, script), wineReadsPosix(o, true, script);
    std::error_code ignored;
    fs::copy_file(posixRun.file(), own.file(), ignored);
    fs::copy_file(wineRun.file(), posixReadsWine.file(), ignored);
    fs::copy_file(posixRun.file(), wineReadsPosix.file(), ignored);
    if (!own.run_part(false, native, "2") || !posixReadsWine.run_part(false, native, "2") ||
        !wineReadsPosix.run_part(true, native, "2")) {
        return 1;
    }
    differences += compare_outputs("POSIX store, own file", own.result.output, "POSIX store, Wine's file",
                                   posixReadsWine.result.output);
    differences += compare_outputs("POSIX store, own file", own.result.output, "Wine, POSIX store's file",
                                   wineReadsPosix.result.output);
    return differences == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(true);
    Options o;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--build" && i + 1 < argc) o.build = fs::absolute(argv[++i]);
        else if (a == "--prefix" && i + 1 < argc) o.prefix = fs::absolute(argv[++i]);
        else if (a == "--bits" && i + 1 < argc) o.bits = std::atoi(argv[++i]);
        else rest.push_back(a);
    }
    if (o.build.empty() || o.prefix.empty() || rest.empty() || (o.bits != 32 && o.bits != 64)) {
        std::cerr << "usage: doorlink_wine --build DIR --prefix DIR [--bits 32|64] "
                     "(prefix | scenario NAME | platform | serial | profile SCRIPT NATIVE_RUNNER)\n";
        return 2;
    }
    if (o.bits == 64) o.wine = kWine64Loader;
    std::string why = missing_piece(o);
    if (!why.empty()) {
        std::cout << "SKIPPED: " << why << '\n';
        return kSkipped;
    }
    set_wine_environment(o);
    try {
        if (o.bits == 32) {
            // Making the prefix may fall to the probe.
            const int probed = probe_32_bit_programs(o, rest[0] == "prefix" ? 300 : kWineTimeoutSeconds);
            if (probed != 0) return probed;
        }
        if (rest[0] == "prefix") return prepare_prefix(o);
        if (!fs::exists(o.prefix / "system.reg")) {
            std::cout << "the Wine prefix " << o.prefix << " is missing: run `doorlink_wine prefix`\n";
            return 1;
        }
        if (rest[0] == "scenario" && rest.size() == 2) return run_scenario(o, rest[1]);
        if (rest[0] == "platform") return run_platform_checks(o);
        if (rest[0] == "serial") return run_serial_check(o);
        if (rest[0] == "profile" && rest.size() == 3) {
            return run_profile_differential(o, rest[1], rest[2]);
        }
    } catch (const std::exception& e) {
        std::cout << "doorlink_wine: " << e.what() << '\n';
        return 1;
    }
    std::cerr << "doorlink_wine: unknown command\n";
    return 2;
}
