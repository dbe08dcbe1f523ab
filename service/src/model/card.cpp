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

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::vector<std::string> split_words(const std::string& text) {
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && is_space(text[pos])) ++pos;
        const size_t start = pos;
        while (pos < text.size() && !is_space(text[pos])) ++pos;
        if (pos > start) words.emplace_back(text, start, pos - start);
    }
    return words;
}

std::string join_words(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        if (!text.empty()) text += ' ';
        text += word;
    }
    return text;
}

}  // namespace doorlinkd
