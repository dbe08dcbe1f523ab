// A simulated controller on a loopback address of its own, served by a
// simulator running in the test process.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "doorsim/simulator.h"

namespace doorlink::testing {

class SimulatedController : public ::testing::Test {
protected:
    void SetUp() override {
        id = sim.add_controller({});
        sim.start();
        address = sim.address(id);
        mac = sim.mac_text(id);
    }

    // The datagrams the controller received so far.
    std::vector<doorsim::Datagram> received() const { return sim.received(id); }

    doorsim::Simulator sim;
    int id = 0;
    std::string address;
    std::string mac;
};

// Milliseconds taken by f().
template <typename F>
long elapsed_ms(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

// A loopback address on which nothing answers.
std::string silent_address();

}  // namespace doorlink::testing
