// A card as the service keeps it: the columns of the card CSV file, already
// checked (cards/card_rules.h) and in their stored form.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace doorlinkd {

constexpr int kDays = 7;  // Sunday first, as the controller orders them

struct Card {
    std::string card;      // 8 digits: site (3) and number (5)
    std::string serial;    // exactly 6 digits
    std::string password;  // exactly 6 digits
    int userStyle = 1;     // 0 or 1
    int openStyle = 2;     // 0, 1 or 2
    // Per day the time ranges in the form the controller reads back:
    // "hhmm-hhmm-tt;" per range, empty for none.
    std::array<std::string, kDays> days;
    std::vector<std::string> extraCards;   // up to 10 further card texts
    std::vector<std::string> controllers;  // controller names; empty: every controller

    bool operator==(const Card& other) const;
    bool operator!=(const Card& other) const { return !(*this == other); }
};

// The CSV header's column names, which are also the field names of drift
// reports and of the card options of `doorlinkd card set`.
inline const std::array<const char*, 14> kCardColumns = {
    "card",    "serial",    "password", "user_style", "open_style", "sunday",      "monday",
    "tuesday", "wednesday", "thursday", "friday",     "saturday",   "extra_cards", "controllers"};
constexpr int kFirstDayColumn = 5;  // "sunday"

// Whether the card goes to the named controller.
bool goes_to(const Card& card, const std::string& controller);

// The words of a list field (further cards, controller names), separated
// by white space of any kind: a spreadsheet cell may also break its lines.
std::vector<std::string> split_words(const std::string& text);
// The words separated by single spaces, as lists are written and stored.
std::string join_words(const std::vector<std::string>& words);

}  // namespace doorlinkd
