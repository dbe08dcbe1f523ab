// What the benchmarks share: their data directory and a simulated controller.
//
// The data directory of a benchmark run: $DOORLINK_HOME when set, else a
// directory of its own (in memory where the machine has such a file system,
// so that the numbers show the protocol rather than the disk), removed when
// the run ends.
#pragma once

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

}  // namespace doorlink::bench
