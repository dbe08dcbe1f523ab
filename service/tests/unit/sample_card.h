// A valid card row for the store's tests, naming the controllers given
// (none: every controller).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "model/card.h"

namespace doorlinkd::test {

inline Card make_card(const std::string& number, std::vector<std::string> controllers = {}) {
    Card c;
    c.card = number;
    c.serial = "123456";
    c.password = "654321";
    c.days = {"", "0800-1700-01;", "0800-1200-01;1300-1700-02;", "", "", "", ""};
    c.controllers = std::move(controllers);
    return c;
}

}  // namespace doorlinkd::test
