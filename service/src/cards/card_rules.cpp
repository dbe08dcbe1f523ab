#include "cards/card_rules.h"

#include <algorithm>

namespace doorlinkd {

bool all_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string card_text_problem(std::string_view text) {
    if (text.size() != 8 || !all_digits(text)) return std::string(text) + " is not 8 digits";
    // Digit texts of one length order as their values do.
    const std::string_view site = text.substr(0, 3);
    const std::string_view number = text.substr(3);
    if (site > "255") return "site " + std::string(site) + " is above 255";
    if (number > "65535") return "number " + std::string(number) + " is above 65535";
    return {};
}

bool RowErrors::is_listed(int line) const {
    return std::binary_search(listed_.begin(), listed_.end(), RowError{line, {}, {}},
                              [](const RowError& a, const RowError& b) { return a.line < b.line; });
}

void RowErrors::add(RowError error) {
    const bool sameRow = (rows_ > 0 && error.line == lastLine_) || is_listed(error.line);
    if (!sameRow) {
        ++rows_;
        lastLine_ = error.line;
        if (listedRows_ < kListedRows) {
            ++listedRows_;
            lastListed_ = true;
        } else if (error.line < listed_.back().line) {
            // An earlier row than the last listed (the fleet's rules are
            // checked after the file's): it takes that row's place.
            const int dropped = listed_.back().line;
            while (!listed_.empty() && listed_.back().line == dropped) listed_.pop_back();
            lastListed_ = true;
        } else {
            lastListed_ = false;
        }
    } else if (error.line != lastLine_) {
        lastLine_ = error.line;
        lastListed_ = true;
    }
    if (!lastListed_) return;
    const auto at = std::upper_bound(listed_.begin(), listed_.end(), error.line,
                                     [](int line, const RowError& e) { return line < e.line; });
    listed_.insert(at, std::move(error));
}

RowsRefused RowErrors::refusal(const std::string& prefix) const {
    std::string what =
        prefix + (rows_ == 1 ? "1 row is refused" : std::to_string(rows_) + " rows are refused");
    if (more_rows() > 0) what += "; the first " + std::to_string(listedRows_) + " are listed";
    return RowsRefused(what, listed_, more_rows());
}

}  // namespace doorlinkd
