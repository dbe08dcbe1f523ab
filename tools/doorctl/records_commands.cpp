// doorctl records fetch ADDRESS MAC --controller N [--no-photos]
// doorctl monitor ADDRESS [MAC]
#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <thread>

#include "cli.h"
#include "doorlink/doorlink.h"
#include "doorsim/simulator.h"

namespace doorctl {
namespace {

namespace fs = std::filesystem;

// The library's data directory: $DOORLINK_HOME, else the directory of the
// running executable.
fs::path data_directory() {
    if (const char* home = std::getenv("DOORLINK_HOME"); home && *home) return home;
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

// One key of an INI file (names without regard to case); -1 when absent.
long ini_number(const fs::path& file, const std::string& section, const std::string& key) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::ifstream in(file);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inSection = lower(line) == "[" + lower(section) + "]";
            continue;
        }
        auto eq = line.find('=');
        if (inSection && eq != std::string::npos && lower(line.substr(0, eq)) == lower(key)) {
            return std::strtol(line.c_str() + eq + 1, nullptr, 10);
        }
    }
    return -1;
}

size_t line_count(const fs::path& file) {
    std::ifstream in(file);
    size_t n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

// Every photo under pic/<card>/, with its size.
std::map<fs::path, uintmax_t> photos(const fs::path& pic) {
    std::map<fs::path, uintmax_t> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(pic, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file() && it.depth() == 1) out[it->path()] = it->file_size();
    }
    return out;
}

void draw_progress(long current, long total, const char* unit) {
    const int width = 30;
    const long shown = total > 0 ? std::min(current, total) : 0;
    const int filled = total > 0 ? static_cast<int>(shown * width / total) : 0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(width, '.');
    std::cout << "\r  [" << bar << "] " << std::max(current, 0L) << "/" << (total > 0 ? total : 0) << ' '
              << unit << std::flush;
}

struct FetchOptions {
    Target target;
    int controller = 1;
    bool noPhotos = false;
};

const char* retrieval_outcome(uint32_t result) {
    switch (result) {
        case 1: return "the controller fell silent after the last announced image";
        case 2: return "the controller sent its end marker";
        case 3: return "the controller answered with a short reply";
        default: return "";
    }
}

bool fetch(const FetchOptions& o) {
    const fs::path home = data_directory();
    // The library writes nothing where it cannot keep it: give it its home.
    std::error_code ec;
    fs::create_directories(home, ec);
    char name[32];
    std::snprintf(name, sizeof name, "mj%03d.txt", o.controller);
    const fs::path recordFile = home / name;
    const size_t linesBefore = line_count(recordFile);
    const auto photosBefore = photos(home / "pic");
    const fs::path registry = home / "eqminfo.ini";
    const std::string total = "TotalImg" + std::to_string(o.controller);
    const std::string current = "CurrentImg" + std::to_string(o.controller);

    std::atomic<bool> done{false};
    uint32_t result = 0;
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] {
        result = o.noPhotos ? TxDataRtn(o.target.address.c_str(), o.controller, o.target.mac.c_str())
                            : DataRtn(o.target.address.c_str(), o.controller, o.target.mac.c_str());
        done = true;
    });
    const bool tty = ::isatty(STDOUT_FILENO);
    const char* unit = o.noPhotos ? "records" : "images";
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (tty) draw_progress(ini_number(registry, "CurrentImg", current), ini_number(registry, "TotalImg", total), unit);
    }
    worker.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (tty) {
        draw_progress(ini_number(registry, "CurrentImg", current), ini_number(registry, "TotalImg", total), unit);
        std::cout << '\n';
    }
    if (result == 0) {
        fail("record retrieval from " + o.target.address + " failed (no answer, or the transfer broke off)");
        return false;
    }
    const size_t records = line_count(recordFile) - linesBefore;
    size_t newPhotos = 0;
    uintmax_t bytes = 0;
    std::vector<fs::path> landed;
    for (const auto& [path, size] : photos(home / "pic")) {
        if (photosBefore.count(path)) continue;
        ++newPhotos;
        bytes += size;
        landed.push_back(path);
    }
    std::printf("%zu records, %zu photos, %ju bytes of photos in %.2f s", records, newPhotos, bytes, seconds);
    if (!o.noPhotos) std::printf(" (%s)", retrieval_outcome(result));
    else if (result == 2) std::printf(" (the controller holds no records)");
    std::printf("\nrecords: %s\n", recordFile.string().c_str());
    if (!o.noPhotos) std::printf("photos:  %s%c<card>%c\n", (home / "pic").string().c_str(), '/', '/');
    std::fflush(stdout);
    return true;
}

// ---- monitor ---------------------------------------------------------------

// The monitoring requests belong to the door command and network families;
// they are looked up when the command runs.
using ScoutFunction = uint32_t (*)(const char*, uint32_t*);
using TransIpFunction = uint32_t (*)(const char*, uint32_t*, const char*);

std::atomic<bool> interrupted{false};

// The length of the next datagram waiting on the socket, without taking
// it; -1 when none came within the wait.
long peek_length(uint32_t socket, int waitMs) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    if (::poll(&p, 1, waitMs) != 1) return -1;
    char probe[2048];
    return ::recv(static_cast<int>(socket), probe, sizeof probe, MSG_PEEK | MSG_TRUNC);
}

bool monitor(const Target& t, int controller) {
    uint32_t socket = 0;
    uint32_t opened = 0;
    if (t.mac.empty()) {
        auto scout = reinterpret_cast<ScoutFunction>(::dlsym(RTLD_DEFAULT, "DoorScout"));
        if (!scout) {
            fail("this build of the library has no monitoring request (DoorScout)");
            return false;
        }
        opened = scout(t.address.c_str(), &socket);
    } else {
        auto transIp = reinterpret_cast<TransIpFunction>(::dlsym(RTLD_DEFAULT, "DoorTransIP"));
        if (!transIp) {
            fail("this build of the library cannot tell a controller its return address (DoorTransIP)");
            return false;
        }
        opened = transIp(t.address.c_str(), &socket, t.mac.c_str());
    }
    if (opened != 1 || socket == 0) {
        fail("the controller at " + t.address + " did not accept the monitoring request");
        return false;
    }
    std::cout << "monitoring " << t.address << "; error reports below, photos into "
              << (data_directory() / "curpic").string() << "; interrupt to stop" << std::endl;
    struct sigaction action{};
    action.sa_handler = [](int) { interrupted = true; };
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    while (!interrupted) {
        const long length = peek_length(socket, 500);
        if (length < 0) continue;
        if (length == 1052) {
            char card[9] = {};
            char time[17] = {};
            if (DoorPic(0, card, time, socket) == 1) {
                std::cout << "photo of card " << card << " at " << time << " -> "
                          << (data_directory() / "curpic" / (std::string(card) + ".jpg")).string() << std::endl;
            } else {
                std::cout << "a photo broke off" << std::endl;
            }
        } else {
            std::vector<char> text(1066);
            if (ErrorScore(t.address.c_str(), text.data(), controller, socket) == 1) {
                std::cout << "error report: " << text.data() << std::endl;
            }
        }
    }
    ::close(static_cast<int>(socket));
    std::cout << "stopped" << std::endl;
    return true;
}

}  // namespace

void add_records_commands(CLI::App& app, std::vector<DemoStep>& demo) {
    auto* records = app.add_subcommand("records", "stored access records and their photos");
    records->require_subcommand(1);
    auto options = std::make_shared<FetchOptions>();
    auto* fetchCommand = records->add_subcommand(
        "fetch", "fetch the stored records (and photos) into mjNNN.txt, cardinfo/ and pic/");
    add_target(fetchCommand, options->target);
    fetchCommand->add_option("--controller", options->controller, "controller number NNN in file names")
        ->check(CLI::Range(0, 999))
        ->capture_default_str();
    fetchCommand->add_flag("--no-photos", options->noPhotos, "records only, in blocks of 64 (TxDataRtn)");
    fetchCommand->callback([options] { fetch(*options); });

    auto target = std::make_shared<Target>();
    auto controller = std::make_shared<int>(1);
    auto* monitorCommand = app.add_subcommand(
        "monitor", "print error reports and save pushed photos until interrupted");
    monitorCommand->add_option("ADDRESS", target->address, "controller address, dotted IPv4")->required();
    monitorCommand->add_option("MAC", target->mac,
                               "controller MAC: monitor through the return-address request");
    monitorCommand->add_option("--controller", *controller, "controller number in the error log name")
        ->check(CLI::Range(0, 999));
    monitorCommand->callback([target, controller] { monitor(*target, *controller); });

    demo.push_back({"fetch the stored access records with their photos", [](DemoContext& c) {
                        FetchOptions o{{c.address, c.mac}, 1, false};
                        if (!fetch(o)) return false;
                        // Every photo must decode as a JPEG image.
                        const fs::path pic = data_directory() / "pic";
                        size_t shown = 0;
                        for (const auto& [path, size] : photos(pic)) {
                            std::ifstream in(path, std::ios::binary);
                            doorsim::Bytes bytes((std::istreambuf_iterator<char>(in)), {});
                            int w = 0, h = 0;
                            if (!doorsim::decode_photo(bytes, w, h)) {
                                fail(path.string() + " is not a whole JPEG image");
                                return false;
                            }
                            if (shown++ < 3) {
                                std::cout << "  " << path.string() << ": " << w << "x" << h << " JPEG, "
                                          << size << " bytes\n";
                            }
                        }
                        return shown > 0;
                    }});
    demo.push_back({"fetch the same records without photos, in blocks of 64", [](DemoContext& c) {
                        return fetch(FetchOptions{{c.address, c.mac}, 2, true});
                    }});
}

}  // namespace doorctl
