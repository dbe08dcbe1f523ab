// doorlink_wine: runs the Windows programs of build-win32 under Wine, each
// against controllers simulated in this (Linux) process on loopback, and
// checks on the simulator's side what the controllers received.
//
//     doorlink_wine --build DIR --prefix DIR prefix
//     doorlink_wine --build DIR --prefix DIR scenario NAME
//     doorlink_wine --build DIR --prefix DIR platform
//     doorlink_wine --build DIR --prefix DIR serial
//     doorlink_wine --build DIR --prefix DIR profile SCRIPT NATIVE_RUNNER
//
// Every run gets a fresh directory holding copies of the program and
// doorlink.dll, which is also its module directory. Exit status 0: passed,
// 1: failed, 77: skipped (no Wine, or no Windows build), with the reason.
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
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "doorsim/simulator.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSkipped = 77;
constexpr int kWineTimeoutSeconds = 120;

struct Options {
    fs::path build;
    fs::path prefix;
};

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
    ::setenv("WINEARCH", "win32", 1);
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
            result.output = slurp(outputFile) + "\n(killed after " +
                            std::to_string(timeoutSeconds) + " s)\n";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.milliseconds = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - start)
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
    RunDirectory(const Options& o, const std::vector<std::string>& programs) {
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

private:
    fs::path path_;
};

RunResult run_windows_program(const Options& o, const std::string& program,
                              const std::vector<std::string>& arguments) {
    RunDirectory dir(o, {program});
    std::vector<std::string> argv = {"wine", (dir.path() / program).string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    RunResult r = run(argv, dir.path());
    std::cout << r.output;
    std::cout << program << " exited with " << r.status << " after " << r.milliseconds << " ms\n";
    return r;
}

// Why the suite cannot run here, or empty when it can.
std::string missing_piece(const Options& o) {
    if (!on_path("wine")) {
        return "Wine is not installed (scripts/install-windows-deps.sh installs it as root: "
               "dpkg --add-architecture i386, then wine and wine32:i386)";
    }
    if (!fs::exists(o.build / "doorlink.dll")) {
        return (o.build / "doorlink.dll").string() +
               " is missing (`make windows` builds it with the MinGW-w64 cross compiler)";
    }
    return {};
}

int prepare_prefix(const Options& o) {
    fs::create_directories(o.prefix);
    auto start = std::chrono::steady_clock::now();
    if (!fs::exists(o.prefix / "system.reg")) {
        std::cout << "creating the Wine prefix " << o.prefix << '\n';
        RunResult r = run({"wineboot", "--init"}, o.prefix, 300);
        // The registry files are written when the server ends.
        run({"wineserver", "-w"}, o.prefix, 120);
        if (!fs::exists(o.prefix / "system.reg")) {
            std::cout << r.output << "wineboot --init exited with " << r.status
                      << " and left no prefix\n";
            return 1;
        }
    }
    // The serial port of the card reader check: COM40 leads to a link in the
    // prefix that the check points at a pseudo-terminal. The platform's
    // device manager reads the port table when its server starts.
    if (!fs::is_symlink(o.prefix / "dosdevices" / "com40")) {
        run({"wine", "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM40", "/d",
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
    RunResult warm = run({"wine", "cmd", "/c", "exit"}, o.prefix, 120);
    if (!fs::is_symlink(o.prefix / "dosdevices" / "com40")) {
        std::cout << "COM40 is not set up in the prefix: the serial check will fail\n";
    }
    std::cout << "Wine prefix ready in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count()
              << " ms\n";
    return warm.status == 0 ? 0 : 1;
}

// ---- Scenarios -------------------------------------------------------------

struct Context {
    doorsim::Simulator sim;
    int id = -1;
    std::vector<std::string> args;  // name=value arguments for winhost
    int failures = 0;

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
};

struct Scenario {
    std::function<void(Context&)> setup;
    std::function<void(Context&)> verify;
    std::string program = "winhost.exe";
};

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
              c.sim.update_state(c.id, [](doorsim::ControllerState& s) {
                  s.clockOffsetSeconds = -400 * 86400;
              });
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
        {"refusals",
         {[](Context& c) { c.add_controller(); },
          [](Context& c) {
              c.expect(c.received().empty(), "no datagram for refused arguments");
          }}},
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
                  c.expect(d.fromPort == port, "sent from port " + std::to_string(d.fromPort) +
                                                   ", not " + std::to_string(port));
          }}},
        {"silent",
         {[](Context& c) {
              doorsim::Faults f;
              f.silent = true;
              c.add_controller(f);
          },
          [](Context& c) {
              c.expect(c.received().size() == 2, "one request per call, got " +
                                                      std::to_string(c.received().size()));
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
              c.expect(c.received().size() == 20, "twenty requests, got " +
                                                      std::to_string(c.received().size()));
          }}},
        {"import_library",
         {[](Context& c) {
              c.add_controller();
              c.args = {c.sim.address(c.id), c.sim.mac_text(c.id)};
          },
          [](Context& c) { c.expect(c.sim.state(c.id).clockSets == 1, "one clock set"); },
          "implib_host.exe"}},
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
    Context c;
    s.setup(c);
    c.sim.start();
    std::vector<std::string> arguments;
    if (s.program == "winhost.exe") arguments.push_back(name);
    arguments.insert(arguments.end(), c.args.begin(), c.args.end());
    RunResult r = run_windows_program(o, s.program, arguments);
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
    bool traced = r.output.find("OutputDebugStringA \"doorlink: debug trace check\\n\"") !=
                  std::string::npos;
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
    std::cout << nameA << " / " << nameB << ": " << x.size() << " results compared, "
              << differences << " differ\n";
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
        if (windows) argv = {"wine", (dir.path() / "profile_script.exe").string()};
        else argv = {native.string()};
        argv.push_back("script.txt");
        if (!part.empty()) argv.push_back(part);
        result = run(argv, dir.path(), kWineTimeoutSeconds);
        if (result.status != 0) std::cout << result.output << "script runner exited with " << result.status << '\n';
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
    differences += compare_outputs("POSIX store, own file", own.result.output,
                                   "POSIX store, Wine's file", posixReadsWine.result.output);
    differences += compare_outputs("POSIX store, own file", own.result.output,
                                   "Wine, POSIX store's file", wineReadsPosix.result.output);
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
        else rest.push_back(a);
    }
    if (o.build.empty() || o.prefix.empty() || rest.empty()) {
        std::cerr << "usage: doorlink_wine --build DIR --prefix DIR "
                     "(prefix | scenario NAME | platform | serial | profile SCRIPT NATIVE_RUNNER)\n";
        return 2;
    }
    std::string why = missing_piece(o);
    if (!why.empty()) {
        std::cout << "SKIPPED: " << why << '\n';
        return kSkipped;
    }
    set_wine_environment(o);
    try {
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
