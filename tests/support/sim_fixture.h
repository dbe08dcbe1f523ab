// A simulated controller on a loopback address of its own, served by a
// simulator running in the test process.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "doorsim/simulator.h"
#include "support/elapsed.h"

namespace doorlink::testing {

// The acknowledgement a controller answers a setting with.
inline const std::vector<uint8_t> kAck = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

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

// A loopback address on which nothing answers.
std::string silent_address();

}  // namespace doorlink::testing
