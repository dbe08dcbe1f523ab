// The checks that the card file, `card set` and the fleet rules share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cards/card_csv.h"

namespace doorlinkd {

// Indexes into CardFields and kCardColumns.
enum CardColumn : std::size_t {
    kCardColumn = 0,
    kSerialColumn = 1,
    kPasswordColumn = 2,
    kUserStyleColumn = 3,
    kOpenStyleColumn = 4,
    kExtraCardsColumn = 12,
    kControllersColumn = 13,
};
constexpr std::size_t kCardColumnCount = kCardColumns.size();

bool all_digits(std::string_view text);

// Why a card text is refused (8 digits: a site of at most 255, a number of
// at most 65535), or empty when it is a card.
std::string card_text_problem(std::string_view text);

}  // namespace doorlinkd
