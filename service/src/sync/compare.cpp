// The database's cards for a controller against what it holds.
#include <algorithm>
#include <map>
#include <string>

#include "sync/sync.h"

namespace doorlinkd {
namespace {

// Everything known of one card text on both sides.
struct Sides {
    const Card* database = nullptr;
    std::vector<const Card*> held;  // each copy the controller holds
    bool outOfOrder = false;        // below the card the controller holds before it
};

std::string joined(const std::vector<std::string>& texts) {
    std::string text;
    for (const std::string& t : texts) text += (text.empty() ? "" : " ") + t;
    return text;
}

// One row per differing field of a card held once, in column order.
void compare_fields(const Card& database, const Card& held, bool longRecords, std::vector<Drift>& drift) {
    auto differ = [&](const char* field, const std::string& ours, const std::string& theirs) {
        if (ours != theirs) drift.push_back({database.card, field, ours, theirs});
    };
    differ("serial", database.serial, held.serial);
    differ("password", database.password, held.password);
    differ("user_style", std::to_string(database.userStyle), std::to_string(held.userStyle));
    differ("open_style", std::to_string(database.openStyle), std::to_string(held.openStyle));
    for (int day = 0; day < kDays; ++day) {
        differ(kCardColumns[kFirstDayColumn + day], database.days[day], held.days[day]);
    }
    if (longRecords) differ("extra_cards", joined(database.extraCards), joined(held.extraCards));
}

}  // namespace

std::vector<Drift> compare_cards(const std::vector<Card>& database, const std::vector<Card>& held,
                                 bool longRecords) {
    std::map<std::string, Sides> cards;  // in card order, so the rows are too
    for (const Card& card : database) cards[card.card].database = &card;
    for (size_t i = 0; i < held.size(); ++i) {
        Sides& sides = cards[held[i].card];
        sides.held.push_back(&held[i]);
        if (i > 0 && held[i].card < held[i - 1].card) sides.outOfOrder = true;
    }

    std::vector<Drift> drift;
    for (const auto& [text, sides] : cards) {
        const std::optional<std::string> ours =
            sides.database ? std::optional<std::string>(text) : std::nullopt;
        if (sides.held.empty()) {
            drift.push_back({text, "card", ours, std::nullopt});
            continue;
        }
        if (sides.held.size() > 1) {
            drift.push_back({text, "card", ours, "held " + std::to_string(sides.held.size()) + " times"});
        } else if (!sides.database) {
            drift.push_back({text, "card", std::nullopt, text});
        }
        if (sides.outOfOrder) drift.push_back({text, "card", ours, std::string(kOutOfCardOrder)});
        if (sides.database && sides.held.size() == 1) {
            compare_fields(*sides.database, *sides.held.front(), longRecords, drift);
        }
    }
    return drift;
}

}  // namespace doorlinkd
