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

RowsRefused rows_refused(std::vector<RowError> errors) {
    std::vector<int> lines;
    lines.reserve(errors.size());
    for (const RowError& error : errors) lines.push_back(error.line);
    std::sort(lines.begin(), lines.end());
    const auto rows = std::unique(lines.begin(), lines.end()) - lines.begin();
    const std::string what = rows == 1 ? "1 row is refused" : std::to_string(rows) + " rows are refused";
    return RowsRefused(what, std::move(errors));
}

}  // namespace doorlinkd
