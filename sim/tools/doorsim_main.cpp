// doorsim: runs simulated controllers on loopback until interrupted.
#include <arpa/inet.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <ctime>
#include <iostream>
#include <sstream>
#include <thread>

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
void read_control_input(doorsim::Simulator& sim) {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        int id = 0;
        if (!(in >> command >> id) || id < 1 || static_cast<size_t>(id) > sim.controller_count()) {
            if (!command.empty()) std::cout << "? monitor|error|photo ID ..." << std::endl;
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
                 doorsim::push_live_photo(sim, id, doorsim::make_record(static_cast<uint8_t>(site),
                                                                        static_cast<uint16_t>(card),
                                                                        std::time(nullptr)));
        }
        std::cout << (ok ? "ok" : "failed (no monitoring target, or bad arguments)") << std::endl;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "doorsim: simulated door access controllers on loopback UDP port 9000.\n"
        "Each controller gets its own address (consecutive from --address) and MAC\n"
        "(consecutive from --mac) and answers as a controller would until doorsim is\n"
        "interrupted."};
    std::string base = "127.0.0.2";
    int count = 1;
    std::string macText = "00a0c9000001";
    bool verbose = false;
    doorsim::Faults faults;
    app.add_option("--address", base, "address of the first controller")->capture_default_str();
    app.add_option("--controllers", count, "number of controllers")->check(CLI::Range(1, 250))->capture_default_str();
    app.add_option("--mac", macText, "MAC of the first controller, 12 hex digits")->capture_default_str();
    app.add_flag("-v,--verbose", verbose, "print every datagram in and out, in hex");
    app.add_flag("--silent", faults.silent, "receive but never answer");
    app.add_option("--drop", faults.dropRate, "chance (0..1) that a request is lost")->check(CLI::Range(0.0, 1.0));
    app.add_option("--duplicate", faults.duplicates, "send every answer this many extra times")->check(CLI::NonNegativeNumber);
    app.add_option("--delay", faults.delayMs, "delay every answer by this many milliseconds")->check(CLI::NonNegativeNumber);
    app.add_option("--wrong-first", faults.wrongRepliesFirst, "answer the first N requests wrongly")->check(CLI::NonNegativeNumber);
    int records = 0;
    std::string streamEnd = "marker";
    bool control = false;
    app.add_option("--records", records, "access records (with JPEG photos) each controller holds")
        ->check(CLI::Range(0, 10000));
    app.add_option("--stream-end", streamEnd, "how a photo retrieval ends: marker, short or silence")
        ->check(CLI::IsMember({"marker", "short", "silence"}))
        ->capture_default_str();
    app.add_flag("--control", control,
                 "read commands from standard input: 'monitor ID ADDRESS PORT', 'error ID TEXT',\n"
                 "'photo ID SITE CARD' (pushes to the controller's monitoring target)");
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

    doorsim::Simulator sim;
    try {
        for (int i = 0; i < count; ++i) {
            doorsim::ControllerConfig config;
            config.address = address_after(base, i);
            config.mac = mac_after(mac, i);
            config.deviceNumber = static_cast<uint8_t>(i % 255 + 1);
            int id = sim.add_controller(config);
            sim.set_faults(id, faults);
            sim.update_state(id, [&](doorsim::ControllerState& s) {
                s.records.records = doorsim::sample_records(records);
                s.records.streamEnd = streamEnd == "short"     ? doorsim::StreamEnd::ShortReply
                                      : streamEnd == "silence" ? doorsim::StreamEnd::Silence
                                                               : doorsim::StreamEnd::EndMarker;
            });
            std::cout << "controller " << id + 1 << ": " << sim.address(id) << ":9000 mac "
                      << sim.mac_text(id) << '\n';
        }
    } catch (const std::exception& e) {
        std::cerr << "doorsim: " << e.what() << '\n';
        return 1;
    }
    if (verbose) sim.set_log(&std::cout);
    sim.start();
    std::cout << "ready; interrupt to stop" << std::endl;
    if (control) std::thread([&sim] { read_control_input(sim); }).detach();
    int signal = 0;
    sigwait(&stopSignals, &signal);
    sim.stop();
    return 0;
}
