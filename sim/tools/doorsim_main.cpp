// doorsim: runs simulated controllers on loopback until interrupted.
#include <arpa/inet.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include <CLI/CLI.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "doorsim/card_reader.h"
#include "doorsim/simulator.h"

namespace {

// The address n steps after base (127.0.0.2 + 3 = 127.0.0.5).
std::string address_after(const std::string& base, int n) {
    in_addr a{};
    if (inet_pton(AF_INET, base.c_str(), &a) != 1) return {};
    a.s_addr = htonl(ntohl(a.s_addr) + static_cast<uint32_t>(n));
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

doorsim::Mac mac_after(doorsim::Mac mac, int n) {
    uint64_t value = 0;
    for (uint8_t b : mac) value = value << 8 | b;
    value += static_cast<uint64_t>(n);
    for (int i = 5; i >= 0; --i) {
        mac[static_cast<size_t>(i)] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
    return mac;
}

// Control input, one command a line: pushes to a controller's monitoring
// target (ids count from 1 as printed at start-up).
//   monitor ID ADDRESS PORT    set the monitoring target
//   error ID TEXT...           push an error report
//   photo ID SITE CARD         push a live photo taken now
//   clock ID SECONDS           run the controller's clock this far ahead of the host's
void read_control_input(doorsim::Simulator& sim) {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        int id = 0;
        if (!(in >> command >> id) || id < 1 || static_cast<size_t>(id) > sim.controller_count()) {
            if (!command.empty()) std::cout << "? monitor|error|photo|clock ID ..." << std::endl;
            continue;
        }
        --id;
        bool ok = false;
        if (command == "monitor") {
            doorsim::MonitorTarget target;
            int port = 0;
            ok = static_cast<bool>(in >> target.address >> port) && port > 0 && port < 65536;
            target.set = ok;
            target.port = static_cast<uint16_t>(port);
            if (ok) sim.update_state(id, [&](doorsim::ControllerState& s) { s.monitor = target; });
        } else if (command == "error") {
            std::string text;
            std::getline(in >> std::ws, text);
            ok = doorsim::push_error_report(sim, id, text);
        } else if (command == "photo") {
            int site = 0, card = 0;
            ok = static_cast<bool>(in >> site >> card) &&
                 doorsim::push_live_photo(
                     sim, id,
                     doorsim::make_record(static_cast<uint8_t>(site), static_cast<uint16_t>(card),
                                          std::time(nullptr)));
        } else if (command == "clock") {
            int64_t seconds = 0;
            ok = static_cast<bool>(in >> seconds);
            if (ok)
                sim.update_state(id, [&](doorsim::ControllerState& s) { s.clockOffsetSeconds = seconds; });
        }
        std::cout << (ok ? "ok" : "failed (no monitoring target, or bad arguments)") << std::endl;
    }
}

// Every controller takes a new stored record with its photo `rate` times a
// second, each at the time it is taken, until stopped; the records follow on
// from the `first` sample records each controller started with.
class NewRecords {
public:
    NewRecords(doorsim::Simulator& sim, double rate, int first)
        : sim_(sim), every_(std::chrono::duration<double>(1.0 / rate)), first_(first) {
        thread_ = std::thread([this] { run(); });
    }
    ~NewRecords() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void run() {
        auto next = std::chrono::steady_clock::now();
        for (uint64_t n = 0;; ++n) {
            next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(every_);
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (wake_.wait_until(lock, next, [this] { return stopping_; })) return;
            }
            // The photo is made outside the controllers' locks.
            const doorsim::StoredRecord record =
                doorsim::sample_record(static_cast<uint64_t>(first_) + n, std::time(nullptr));
            for (size_t id = 0; id < sim_.controller_count(); ++id) {
                sim_.update_state(static_cast<int>(id),
                                  [&](doorsim::ControllerState& s) { s.records.records.push_back(record); });
            }
        }
    }

    doorsim::Simulator& sim_;
    const std::chrono::duration<double> every_;
    const int first_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

struct ReaderOptions {
    std::string card;
    bool silent = false;
    bool shortReplies = false;
    bool verbose = false;
};

// doorsim reader: a card reader on a pseudo-terminal until interrupted.
int run_reader(const ReaderOptions& options, sigset_t& stopSignals) {
    doorsim::Card card{};
    if (!options.card.empty() && !doorsim::card_from_text(options.card, card)) {
        std::cerr << "doorsim: --card needs 8 hexadecimal digits\n";
        return 2;
    }
    try {
        doorsim::CardReader reader;
        if (!options.card.empty()) reader.set_card(card);
        if (options.silent) reader.set_mode(doorsim::CardReader::Mode::Silent);
        if (options.shortReplies) reader.set_mode(doorsim::CardReader::Mode::Short);
        if (options.verbose) reader.set_log(&std::cout);
        reader.start();
        std::cout << "reader: " << reader.path() << std::endl;
        // Every line on standard input presents one card for the next poll.
        std::thread([&reader] {
            std::string line;
            while (std::getline(std::cin, line)) {
                doorsim::Card presented{};
                if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
                if (doorsim::card_from_text(line, presented)) {
                    reader.present(presented);
                    std::cout << "card presented: " << doorsim::hex({presented.begin(), presented.end()})
                              << std::endl;
                } else {
                    std::cerr << "doorsim: a card is 8 hexadecimal digits: " << line << std::endl;
                }
            }
        }).detach();
        int signal = 0;
        sigwait(&stopSignals, &signal);
        reader.stop();
        std::cout.flush();
        std::_Exit(0);  // the input thread may still be waiting for a line
    } catch (const std::exception& e) {
        std::cerr << "doorsim: " << e.what() << '\n';
        return 1;
    }
}

// The kernel driver behind an interface ("veth", "virtio_net"...).
std::string driver_of(int fd, const char* name) {
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    request.ifr_data = reinterpret_cast<char*>(&info);
    if (::ioctl(fd, SIOCETHTOOL, &request) != 0) return {};
    return info.driver;
}

// Broadcasts are answered only inside a network namespace of a test: one
// whose interfaces are loopback and virtual Ethernet pairs, nothing that
// reaches a real network.
bool only_loopback_and_veth(std::string& offender) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    struct if_nameindex* names = if_nameindex();
    bool ok = names != nullptr;
    for (struct if_nameindex* n = names; ok && n->if_index != 0; ++n) {
        ifreq flags{};
        std::strncpy(flags.ifr_name, n->if_name, IFNAMSIZ - 1);
        if (::ioctl(fd, SIOCGIFFLAGS, &flags) == 0 && (flags.ifr_flags & IFF_LOOPBACK)) continue;
        if (driver_of(fd, n->if_name) != "veth") {
            offender = n->if_name;
            ok = false;
        }
    }
    if (names) if_freenameindex(names);
    ::close(fd);
    return ok;
}

// Network data that differs from controller to controller, as on a real site.
void vary_network_data(doorsim::Simulator& sim, int id, int index, const std::string& address) {
    in_addr a{};
    inet_pton(AF_INET, address.c_str(), &a);
    const uint32_t value = ntohl(a.s_addr);
    sim.update_state(id, [&](doorsim::ControllerState& s) {
        s.mask = {255, 255, 255, 0};
        s.gateway = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                     static_cast<uint8_t>(value >> 8), 1};
        s.imageMode = static_cast<uint8_t>(index % 3 + 1);
        s.timeValue = static_cast<uint8_t>(index % 61);
    });
}

}  // namespace

// The failures of the set-up are caught below; an exception that none of the
// catches takes is a bug, which std::terminate reports.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    CLI::App app{
        "doorsim: simulated door access controllers on loopback UDP port 9000.\n"
        "Each controller gets its own address (consecutive from --address) and MAC\n"
        "(consecutive from --mac) and answers as a controller would until doorsim is\n"
        "interrupted. Controller n (from 1) has device number n, image mode 1, 2, 3 in\n"
        "turn, time value (n - 1) % 61, mask 255.255.255.0 and gateway x.y.z.1 of its\n"
        "address; it moves to a new loopback address given by the network settings\n"
        "command and answers discovery sent to its address."};
    app.set_version_flag("--version", "doorsim " DOORLINK_VERSION, "print the version and exit");
    std::string base = "127.0.0.2";
    int count = 1;
    std::string macText = "00a0c9000001";
    bool verbose = false;
    std::string stateDirectory;
    doorsim::Faults faults;
    app.add_option("--address", base, "address of the first controller")->capture_default_str();
    app.add_option("--controllers", count, "number of controllers")
        ->check(CLI::Range(1, 250))
        ->capture_default_str();
    app.add_option("--mac", macText, "MAC of the first controller, 12 hex digits")->capture_default_str();
    bool broadcast = false;
    app.add_flag("--broadcast", broadcast,
                 "also answer discovery broadcasts on UDP port 9000 (only inside a network\n"
                 "namespace whose interfaces are loopback and veth pairs, as tests make them)");
    app.add_flag("-v,--verbose", verbose, "print every datagram in and out, in hex");
    app.add_flag("--silent", faults.silent, "receive but never answer");
    app.add_option("--drop", faults.dropRate, "chance (0..1) that a request is lost")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--duplicate", faults.duplicates, "send every answer this many extra times")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--delay", faults.delayMs, "delay every answer by this many milliseconds")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--wrong-first", faults.wrongRepliesFirst, "answer the first N requests wrongly")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--replay-after", faults.replayAfter,
                   "after N answers, answer every request with an earlier answer or push, chosen at random")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--duplicate-rate", faults.duplicateRate,
                   "chance (0..1) that a request, an answer or a push arrives twice")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option(
           "--reorder", faults.reorderRate,
           "chance (0..1) that an answer or push is held back --reorder-ms, so later ones overtake it")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--reorder-ms", faults.reorderMs, "how long a reordered datagram is held back")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--push-loss", faults.pushLossRate, "chance (0..1) that a pushed datagram is lost")
        ->check(CLI::Range(0.0, 1.0));

    ReaderOptions readerOptions;
    auto* reader = app.add_subcommand(
        "reader",
        "a card reader on a pseudo-terminal instead of controllers: prints the device path\n"
        "to open as the serial port and answers each 0xF5 0xF5 poll with a 4-byte card\n"
        "reply, while the line is set to 9600 baud, 8 data bits, no parity, 2 stop bits.\n"
        "Each line on standard input (8 hex digits) answers the next poll once.");
    reader->add_option("--card", readerOptions.card,
                       "answer every poll with this card, 8 hex digits (000C3039)");
    auto* silentReader = reader->add_flag("--silent", readerOptions.silent, "hear polls but never answer");
    reader->add_flag("--short", readerOptions.shortReplies, "answer each poll with only 2 bytes")
        ->excludes(silentReader);
    reader->add_flag("-v,--verbose", readerOptions.verbose, "print every poll and reply in hex");
    app.add_option("--state-dir", stateDirectory,
                   "keep the controllers' card lists in this directory across restarts")
        ->check(CLI::ExistingDirectory);
    int records = 0;
    double newRecords = 0;
    bool consumeRecords = false;
    std::string streamEnd = "marker";
    bool control = false;
    app.add_option("--records", records, "access records (with JPEG photos) each controller holds")
        ->check(CLI::Range(0, 10000));
    int64_t recordsTime = 0;
    app.add_option("--records-time", recordsTime,
                   "the time (seconds since 1970) the --records were taken up to, a minute apart;\n"
                   "the same time gives the same records and photos in every run (default: now)")
        ->option_text("SECONDS")
        ->check(CLI::PositiveNumber);
    app.add_option("--new-records", newRecords,
                   "new access records (with JPEG photos, taken now) each controller gets per second;\n"
                   "0: none")
        ->option_text("RATE")
        ->check(CLI::Range(0.0, 1000.0));
    app.add_flag("--consume-records", consumeRecords,
                 "free the records the host has acknowledged, as real controllers do (else a\n"
                 "controller keeps every record and sends them all again at each retrieval)");
    app.add_option("--stream-end", streamEnd, "how a photo retrieval ends: marker, short or silence")
        ->check(CLI::IsMember({"marker", "short", "silence"}))
        ->capture_default_str();
    app.add_flag("--control", control,
                 "read commands from standard input: 'monitor ID ADDRESS PORT', 'error ID TEXT',\n"
                 "'photo ID SITE CARD' (pushes to the controller's monitoring target), 'clock ID\n"
                 "SECONDS' (the controller's clock runs that far ahead of the host's)");
    std::string pcapPath;
    app.add_option("--pcap", pcapPath,
                   "write every datagram received and sent to FILE, a libpcap capture (raw IPv4)\n"
                   "for Wireshark or tshark with the dissector tools/wireshark/doorlink.lua")
        ->option_text("FILE");
    CLI11_PARSE(app, argc, argv);

    doorsim::Mac mac;
    if (!doorsim::mac_from_text(macText, mac)) {
        std::cerr << "doorsim: --mac needs 12 hexadecimal digits\n";
        return 2;
    }
    // Signals are taken with sigwait below, so block them before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    if (reader->parsed()) return run_reader(readerOptions, stopSignals);

    std::string offender;
    if (broadcast && !only_loopback_and_veth(offender)) {
        std::cerr << "doorsim: --broadcast is for a network namespace of loopback and veth "
                     "interfaces only"
                  << (offender.empty() ? std::string() : " (found " + offender + ")") << '\n';
        return 2;
    }

    doorsim::Simulator sim;
    if (!stateDirectory.empty()) sim.set_state_directory(stateDirectory);
    if (broadcast && !sim.listen_for_broadcasts()) {
        std::cerr << "doorsim: cannot listen for broadcasts on UDP port 9000\n";
        return 1;
    }
    try {
        for (int i = 0; i < count; ++i) {
            doorsim::ControllerConfig config;
            config.address = address_after(base, i);
            config.mac = mac_after(mac, i);
            config.deviceNumber = static_cast<uint8_t>(i % 255 + 1);
            int id = sim.add_controller(config);
            sim.set_faults(id, faults);
            sim.update_state(id, [&](doorsim::ControllerState& s) {
                s.records.records =
                    doorsim::sample_records(records, 160, 120, static_cast<std::time_t>(recordsTime));
                s.records.consumeRecords = consumeRecords;
                s.records.streamEnd = streamEnd == "short"     ? doorsim::StreamEnd::ShortReply
                                      : streamEnd == "silence" ? doorsim::StreamEnd::Silence
                                                               : doorsim::StreamEnd::EndMarker;
            });
            doorsim::FramedState framed = sim.state(id).framed;
            vary_network_data(sim, id, i, config.address);
            std::cout << "controller " << id + 1 << ": " << sim.address(id) << ":9000 mac "
                      << sim.mac_text(id) << " framed node " << framed.node << " station "
                      << doorsim::hex({framed.station[0]}) << doorsim::hex({framed.station[1]}) << '\n';
        }
    } catch (const std::exception& e) {
        std::cerr << "doorsim: " << e.what() << '\n';
        return 1;
    }
    if (!pcapPath.empty() && !sim.set_capture(pcapPath)) {
        std::cerr << "doorsim: cannot write the capture file " << pcapPath << '\n';
        return 1;
    }
    if (verbose) sim.set_log(&std::cout);
    sim.start();
    std::cout << "ready; interrupt to stop" << std::endl;
    if (control) std::thread([&sim] { read_control_input(sim); }).detach();
    std::unique_ptr<NewRecords> taking;
    if (newRecords > 0) taking = std::make_unique<NewRecords>(sim, newRecords, records);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    taking.reset();
    sim.stop();
    return 0;
}
