// What the benchmarks share: their data directory, a simulated controller and
// the endpoint a bare socket sends it to.
//
// The data directory of a benchmark run: $DOORLINK_HOME when set, else a
// directory of its own (in memory where the machine has such a file system,
// so that the numbers show the protocol rather than the disk), removed when
// the run ends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "doorsim/simulator.h"

namespace doorlink::bench {

inline const std::string& data_directory() {
    static const std::string dir = [] {
        if (const char* home = std::getenv("DOORLINK_HOME"); home && *home) return std::string(home);
        std::error_code ec;
        const bool memory = std::filesystem::is_directory("/dev/shm", ec);
        std::string pattern = memory ? "/dev/shm/doorlink-bench-XXXXXX" : "/tmp/doorlink-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) return std::string("/tmp");
        ::setenv("DOORLINK_HOME", pattern.c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(data_directory(), ignored);
        });
        return pattern;
    }();
    return dir;
}

// One simulated controller on a loopback address of its own.
struct Controller {
    doorsim::Simulator sim;
    int id;
    std::string address;
    std::string mac;
    Controller() : id(sim.add_controller({})) {
        sim.start();
        address = sim.address(id);
        mac = sim.mac_text(id);
    }
};

// Removes what retrievals as controller 1 wrote: photos, record files.
inline void clear_retrieval_files() {
    const std::filesystem::path home(data_directory());
    std::error_code ec;
    std::filesystem::remove_all(home / "pic", ec);
    std::filesystem::remove_all(home / "cardinfo", ec);
    std::filesystem::remove(home / "mj001.txt", ec);
}

// UDP port 9000 of a controller's address, for the raw floors.
inline sockaddr_in controller_endpoint(const std::string& address) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(doorsim::kControllerPort);
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    return to;
}

}  // namespace doorlink::bench
