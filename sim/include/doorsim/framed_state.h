// What a controller keeps for framed commands: the node number and station
// address a frame must carry to be answered, and a count of those answered.
#pragma once

#include <array>
#include <cstdint>

namespace doorsim {

// The framed commands a simulated controller implements; any other command
// byte in a valid frame gets no answer.
constexpr uint8_t kFramedEcho = 0x01;      // answers with the request's payload
constexpr uint8_t kFramedClock = 0x02;     // yy mm dd hh mi ss (two decimal digits a byte), weekday
constexpr uint8_t kFramedIdentity = 0x03;  // MAC, device number

struct FramedState {
    uint16_t node = 1;
    std::array<uint8_t, 2> station{0x00, 0x01};
    int answered = 0;
};

}  // namespace doorsim
