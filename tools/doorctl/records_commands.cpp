// doorctl records fetch ADDRESS MAC --controller N [--no-photos]
// doorctl monitor ADDRESS [MAC]
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <thread>

#include "cli.h"
#include "doorlink/doorlink.h"
#include "doorsim/simulator.h"
#include "ini_peek.h"

namespace doorctl {
namespace {

namespace fs = std::filesystem;

fs::path data_directory() { return module_directory(); }

// A progress key as a number; -1 when absent.
long ini_number(const fs::path& file, const std::string& section, const std::string& key) {
    const std::string value = ini_value(file.string(), section, key);
    return value.empty() ? -1 : std::strtol(value.c_str(), nullptr, 10);
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

Result fetch(const FetchOptions& o) {
    const fs::path home = prepared_module_directory();
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
    const bool tty = !json_output() && ::isatty(STDOUT_FILENO);
    const char* unit = o.noPhotos ? "records" : "images";
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (tty)
            draw_progress(ini_number(registry, "CurrentImg", current),
                          ini_number(registry, "TotalImg", total), unit);
    }
    worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (tty) {
        draw_progress(ini_number(registry, "CurrentImg", current), ini_number(registry, "TotalImg", total),
                      unit);
        std::cout << '\n';
    }
    if (result == 0) {
        return not_confirmed(o.noPhotos ? "TxDataRtn" : "DataRtn", o.target,
                             "record retrieval from " + o.target.address +
                                 " failed (no answer, or the transfer broke off)")
            .set("controller", o.controller);
    }
    size_t newPhotos = 0;
    uintmax_t bytes = 0;
    for (const auto& [path, size] : photos(home / "pic")) {
        if (photosBefore.count(path)) continue;
        ++newPhotos;
        bytes += size;
    }
    Result r;
    r.set("address", o.target.address)
        .set("controller", o.controller)
        .set("result", result)
        .set("records", line_count(recordFile) - linesBefore)
        .set("photos", newPhotos)
        .set("photo_bytes", bytes)
        .set("seconds", seconds);
    if (!o.noPhotos) r.set("outcome", retrieval_outcome(result));
    else if (result == 2) r.set("outcome", "the controller holds no records");
    r.set("record_file", recordFile.string())
        .line(std::string(
                  "{records} records, {photos} photos, {photo_bytes} bytes of photos in {seconds:%.2f} s") +
              (r.fields().contains("outcome") ? " ({outcome})" : ""))
        .line("records: {record_file}");
    if (!o.noPhotos)
        r.set("photo_directory", (home / "pic").string()).line("photos:  {photo_directory}/<card>/");
    return r;
}

// ---- monitor ---------------------------------------------------------------

std::atomic<bool> interrupted{false};

// The length of the next datagram waiting on the socket, without taking
// it; -1 when none came within the wait.
long peek_length(uint32_t socket, int waitMs) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    if (::poll(&p, 1, waitMs) != 1) return -1;
    char probe[2048];
    return ::recv(static_cast<int>(socket), probe, sizeof probe, MSG_PEEK | MSG_TRUNC);
}

enum class Pushed { Nothing, Report, Photo, Broken, Unwritable };

// Takes what the controller pushed, if anything came within the wait, and
// prints it as an event: a live photo block starts a photo (DoorPic),
// anything else is an error report (ErrorScore).
Pushed receive_pushed(uint32_t socket, const std::string& address, int controller, int waitMs) {
    const long length = peek_length(socket, waitMs);
    if (length < 0) return Pushed::Nothing;
    if (length == 1052) {
        char card[9] = {};
        char time[17] = {};
        if (DoorPic(0, card, time, socket) != 1) {
            emit(Result().set("event", "photo_broken").line("a photo broke off"));
            return Pushed::Broken;
        }
        emit(Result()
                 .set("event", "photo")
                 .set("card", card)
                 .set("time", time)
                 .set("file", (data_directory() / "curpic" / (std::string(card) + ".jpg")).string())
                 .line("photo of card {card} taken {time} -> {file}"));
        return Pushed::Photo;
    }
    std::vector<char> text(1066);
    if (ErrorScore(address.c_str(), text.data(), controller, socket) != 1) {
        // A report was waiting: the library could not keep it in its error log.
        char name[32];
        std::snprintf(name, sizeof name, "error%03d.txt", controller);
        const std::string log = (data_directory() / "error" / name).string();
        emit(Result::failure(kFileError, "cannot append the error report to " + log)
                 .set("export", "ErrorScore")
                 .set("address", address)
                 .set("file", log));
        return Pushed::Unwritable;
    }
    // The report's own text follows the controller number line.
    std::string shown = text.data();
    const size_t newline = shown.find('\n');
    emit(Result()
             .set("event", "error_report")
             .set("controller", controller)
             .set("text", newline == std::string::npos ? shown : shown.substr(newline + 1))
             .line("error report from controller {controller}: {text}"));
    return Pushed::Report;
}

bool monitor(const Target& t, int controller) {
    prepared_module_directory();
    uint32_t socket = 0;
    uint32_t opened = 0;
    if (t.mac.empty()) {
        opened = DoorScout(t.address.c_str(), &socket);
    } else {
        opened = DoorTransIP(t.address.c_str(), &socket, t.mac.c_str());
    }
    if (opened != 1 || socket == 0) {
        return emit(
            not_confirmed(t.mac.empty() ? "DoorScout" : "DoorTransIP", t,
                          "the controller at " + t.address + " did not accept the monitoring request"));
    }
    emit(Result()
             .set("event", "monitoring")
             .set("address", t.address)
             .set("photo_directory", (data_directory() / "curpic").string())
             .line("monitoring {address}; error reports below, photos into {photo_directory}; interrupt to "
                   "stop"));
    struct sigaction action {};
    action.sa_handler = [](int) { interrupted = true; };
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    bool kept = true;
    while (!interrupted && kept)
        kept = receive_pushed(socket, t.address, controller, 500) != Pushed::Unwritable;
    ::close(static_cast<int>(socket));
    if (kept) emit(Result().set("event", "stopped").line("stopped"));
    return kept;
}

// The demo's monitoring: the embedded controller pushes an error report and
// a photo of several blocks, one of them out of turn.
bool demo_monitor(DemoContext& c) {
    uint32_t socket = 0;
    if (DoorScout(c.address.c_str(), &socket) != 1) {
        return emit(not_confirmed("DoorScout", {c.address, ""},
                                  "the simulated controller did not accept the monitoring request"));
    }
    bool ok = doorsim::push_error_report(*c.sim, c.id, "door 1 held open too long") &&
              receive_pushed(socket, c.address, 1, 2000) == Pushed::Report;
    doorsim::StoredRecord photo = doorsim::make_record(1, 4242, std::time(nullptr), 1, 320, 240);
    const size_t blocks = (photo.photo.size() + 1023) / 1024;
    std::vector<size_t> order = {0, 2, 1};
    for (size_t k = 3; k < blocks; ++k) order.push_back(k);
    ok = ok && blocks >= 3 && doorsim::push_live_photo(*c.sim, c.id, photo, order) &&
         receive_pushed(socket, c.address, 1, 2000) == Pushed::Photo;
    ::close(static_cast<int>(socket));
    return ok;
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
    fetchCommand->callback([options] { emit(fetch(*options)); });

    // `monitor ADDRESS [MAC]` watches; the door commands' `monitor start`
    // stays beside it on the same command.
    auto target = std::make_shared<Target>();
    auto controller = std::make_shared<int>(1);
    CLI::App* monitorCommand = nullptr;
    try {
        monitorCommand = app.get_subcommand("monitor");
    } catch (const CLI::OptionNotFound&) {
        monitorCommand = app.add_subcommand("monitor", "monitoring sockets");
    }
    monitorCommand->require_subcommand(0, 1);
    monitorCommand->footer(
        "monitor ADDRESS [MAC]: print error reports and save pushed photos until interrupted\n"
        "(with a MAC the controller is told this host's address by the return-address request)");
    monitorCommand->add_option("ADDRESS", target->address, "controller address, dotted IPv4");
    monitorCommand->add_option("MAC", target->mac,
                               "controller MAC: monitor through the return-address request");
    monitorCommand->add_option("--controller", *controller, "controller number in the error log name")
        ->check(CLI::Range(0, 999));
    monitorCommand->callback([monitorCommand, target, controller] {
        if (!monitorCommand->get_subcommands().empty()) return;
        if (target->address.empty()) {
            emit(Result::failure(kUsageError, "monitor needs a controller ADDRESS (or a subcommand)"));
            return;
        }
        monitor(*target, *controller);
    });

    demo.push_back({"fetch the stored access records with their photos", [](DemoContext& c) {
                        c.sim->update_state(c.id, [](doorsim::ControllerState& s) {
                            s.records.records = doorsim::sample_records(5);
                        });
                        FetchOptions o{{c.address, c.mac}, 1, false};
                        if (!emit(fetch(o))) return false;
                        // Every photo must decode as a JPEG image.
                        const fs::path pic = data_directory() / "pic";
                        size_t shown = 0;
                        for (const auto& [path, size] : photos(pic)) {
                            std::ifstream in(path, std::ios::binary);
                            doorsim::Bytes bytes((std::istreambuf_iterator<char>(in)), {});
                            int w = 0, h = 0;
                            if (!doorsim::decode_photo(bytes, w, h)) {
                                return emit(Result::failure(kNotConfirmed,
                                                            path.string() + " is not a whole JPEG image"));
                            }
                            if (shown++ < 3) {
                                note("  " + path.string() + ": " + std::to_string(w) + "x" +
                                     std::to_string(h) + " JPEG, " + std::to_string(size) + " bytes\n");
                            }
                        }
                        return shown > 0;
                    }});
    demo.push_back({"fetch the same records without photos, in blocks of 64", [](DemoContext& c) {
                        return emit(fetch(FetchOptions{{c.address, c.mac}, 2, true}));
                    }});
    demo.push_back({"monitor the controller: a pushed error report and a pushed photo", demo_monitor});
}

}  // namespace doorctl
