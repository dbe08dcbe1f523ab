// Cards whose every field varies from card to card, and a simulated
// controller to hold them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "library/data_dir.h"
#include "model/card.h"
#include "model/controller.h"
#include "support/sim_fixture.h"

namespace doorlinkd {

inline std::string numbered(const char* format, int a, int b = 0, int c = 0, int d = 0, int e = 0) {
    char text[32];
    std::snprintf(text, sizeof text, format, a, b, c, d, e);
    return text;
}

// count cards in card order: 0 to 8 time ranges a day, and on long records
// 0 to 10 further cards.
inline std::vector<Card> sample_cards(int count, bool furtherCards) {
    std::vector<Card> cards;
    for (int i = 0; i < count; ++i) {
        Card card;
        card.card = numbered("%03d%05d", 1 + i / 50, i % 50 * 1300 + 7);
        card.serial = numbered("%06d", i * 7919 % 1000000);
        card.password = numbered("%06d", i * 104729 % 1000000);
        card.userStyle = i % 2;
        card.openStyle = i % 3;
        for (int day = 0; day < kDays; ++day) {
            for (int range = 0; range < (i + day) % 9; ++range) {
                card.days[day] += numbered("%02d%02d-%02d%02d-%02d;", range * 2, i * 7 % 60, range * 2 + 1,
                                           i * 13 % 60, (i + range) % 100);
            }
        }
        for (int k = 0; furtherCards && k < i % 11; ++k) {
            card.extraCards.push_back(numbered("%03d%05d", 200 + k, i * 500 + k + 1));
        }
        cards.push_back(card);
    }
    return cards;
}

// Enough of a card to tell which one differs.
inline void PrintTo(const Card& card, std::ostream* out) {
    *out << card.card << " " << card.serial << " " << card.password << " " << card.userStyle << card.openStyle
         << " " << card.days[0] << " +" << card.extraCards.size();
}

class SimulatedDoor : public doorlink::testing::SimulatedController {
protected:
    Controller door(bool longRecords) const {
        Controller controller;
        controller.name = "door-1";
        controller.address = address;
        controller.mac = mac;
        controller.number = 1;
        controller.longRecords = longRecords;
        return controller;
    }
    size_t cards_held() const { return sim.state(id).cards.records.size(); }
    int announcements() const { return sim.state(id).cards.announcements; }

    const DataDir dataDir{std::getenv("DOORLINK_HOME")};
};

}  // namespace doorlinkd
