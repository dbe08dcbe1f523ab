// What a change of policy (or of the date) does to one controller: the card
// records it gains, loses and holds otherwise, each with the reasons a
// site's admin reads before the change goes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/controller.h"
#include "model/policy.h"

namespace doorlinkd {

struct CardChange {
    enum class Kind { added, removed, changed };
    Kind kind = Kind::changed;
    std::string card;  // the card number
    // The id of the person whose card it is under the later policy, else
    // under the earlier one; "" for a card row.
    std::string person;
    std::string personName;  // that person's name then
    // changed: the fields that differ, by the card CSV's column names
    // (kCardColumns), "password" for the PIN. Empty for the other kinds.
    std::vector<std::string> fields;
    // Why, as people read it, each once: a person is named by id and name
    // ("e42 Bob: valid until 2026-12-11"), a PIN never shown. At least one.
    std::vector<std::string> reasons;
};

// What changes on controller (whose zone is its site's) between what it
// holds under before at beforeAtMs and what it must hold under after at
// afterAtMs (compile_cards of each): cards added, removed and changed, in
// card order, each with the reasons that bear on it there.
std::vector<CardChange> plan_controller(const Policy& before, int64_t beforeAtMs, const Policy& after,
                                        int64_t afterAtMs, const Controller& controller);

}  // namespace doorlinkd
