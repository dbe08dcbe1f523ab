#include "model/card.h"

#include <algorithm>

namespace doorlinkd {

bool Card::operator==(const Card& o) const {
    return card == o.card && serial == o.serial && password == o.password && userStyle == o.userStyle &&
           openStyle == o.openStyle && days == o.days && extraCards == o.extraCards &&
           controllers == o.controllers;
}

bool goes_to(const Card& card, const std::string& controller) {
    return card.controllers.empty() ||
           std::find(card.controllers.begin(), card.controllers.end(), controller) != card.controllers.end();
}

}  // namespace doorlinkd
