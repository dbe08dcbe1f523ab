// doorsim: runs simulated controllers on loopback until interrupted.
#include <arpa/inet.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <iostream>

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
    std::string stateDirectory;
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
    app.add_option("--state-dir", stateDirectory,
                   "keep the controllers' card lists in this directory across restarts")
        ->check(CLI::ExistingDirectory);
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
    if (!stateDirectory.empty()) sim.set_state_directory(stateDirectory);
    try {
        for (int i = 0; i < count; ++i) {
            doorsim::ControllerConfig config;
            config.address = address_after(base, i);
            config.mac = mac_after(mac, i);
            config.deviceNumber = static_cast<uint8_t>(i % 255 + 1);
            int id = sim.add_controller(config);
            sim.set_faults(id, faults);
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
    int signal = 0;
    sigwait(&stopSignals, &signal);
    sim.stop();
    return 0;
}
