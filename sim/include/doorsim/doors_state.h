// What a controller keeps of the door commands.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace doorsim {

struct DoorsState {
    // Forced actuations received per door, and the extra byte of the last one.
    std::array<int, 4> forcedActuations{};
    int lastActuationExtra = -1;
    int initialisations = 0;

    // The current state (0..3) reported twice by the current-state query; a
    // test may set an inconsistent pair to see it refused.
    std::array<uint8_t, 2> currentState{0, 0};
    // The raw replies to the state query selectors 0..3 (14 bytes for 1).
    std::array<std::vector<uint8_t>, 4> stateReplies{
        std::vector<uint8_t>(10, 0x10), std::vector<uint8_t>(14, 0x11), std::vector<uint8_t>(10, 0x12),
        std::vector<uint8_t>(10, 0x13)};
    uint16_t records = 0;
    uint16_t direction = 0;

    // Lock and button time slots as last received (8 x 2 or 4 x 5 bytes each).
    std::vector<uint8_t> lockSlots;
    std::vector<uint8_t> buttonSlots;
    bool longTimeItems = false;
    int timesExtra = -1;

    std::array<uint8_t, 3> modes{};
    int modesExtra = -1;
    std::array<uint8_t, 7> week{};
    std::array<uint8_t, 40> restDays{};

    int photoTests = 0;
    // Card flags: (site, number high, number low) -> last flag command code.
    std::map<std::array<uint8_t, 3>, uint8_t> cardFlags;
    int scoutExtra = -1;
};

}  // namespace doorsim
