// The card CSV file: its header, its rows read into checked cards, and the
// file written from cards.
#include "cards/card_csv.h"

#include <algorithm>
#include <unordered_map>

#include "cards/card_rules.h"
#include "cards/csv_text.h"

namespace doorlinkd {
namespace {

std::string header_line() {
    std::string line;
    for (const char* column : kCardColumns) {
        if (!line.empty()) line += ',';
        line += column;
    }
    return line;
}

// The column a field stands in; fields past the last are counted with it.
const char* column_at(std::size_t field) {
    return kCardColumns[field < kCardColumnCount ? field : kCardColumnCount - 1];
}

RowError field_count_error(const CsvRow& row) {
    return RowError{row.line, column_at(row.fields.size()),
                    std::to_string(kCardColumnCount) + " fields expected, " +
                        std::to_string(row.fields.size()) + " found"};
}

void check_header(CsvReader& reader) {
    CsvRow header;
    const std::string expected = "; the header line is " + header_line();
    auto refuse = [&](std::size_t field, const std::string& reason) {
        throw rows_refused({RowError{1, column_at(field), reason + expected}});
    };
    if (!reader.next(header)) refuse(0, "the file is empty");
    if (!header.error.empty()) refuse(header.errorField, header.error);
    for (std::size_t i = 0; i < header.fields.size() && i < kCardColumnCount; ++i) {
        if (header.fields[i] != kCardColumns[i]) {
            refuse(i, "the header has " + header.fields[i] + " where " + kCardColumns[i] + " belongs");
        }
    }
    if (header.fields.size() > kCardColumnCount) {
        refuse(kCardColumnCount, "the header has a column " + header.fields[kCardColumnCount] + " after " +
                                     kCardColumns[kCardColumnCount - 1]);
    }
    if (header.fields.size() < kCardColumnCount) {
        refuse(header.fields.size(),
               std::string("the header has no column ") + column_at(header.fields.size()));
    }
}

std::string_view without_byte_order_mark(std::string_view text) {
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    return text.substr(0, kMark.size()) == kMark ? text.substr(kMark.size()) : text;
}

}  // namespace

std::vector<CardRow> parse_card_csv(const std::string& text) {
    std::vector<RowError> errors;
    std::vector<CardRow> cards = parse_card_csv(text, errors);
    if (!errors.empty()) throw rows_refused(std::move(errors));
    return cards;
}

std::vector<CardRow> parse_card_csv(const std::string& text, std::vector<RowError>& errors) {
    CsvReader reader(without_byte_order_mark(text));
    check_header(reader);

    std::vector<CardRow> cards;
    std::unordered_map<std::string, int> firstLine;  // of each card text
    // A card's row has its card, serial and PIN and 13 commas at least: the
    // room reserved follows the rows a text can hold, not its line ends (a
    // text of blank lines would reserve gigabytes).
    constexpr std::size_t kShortestRow = 34;
    const auto lines = std::min(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')),
                                text.size() / kShortestRow + 1);
    cards.reserve(lines);
    firstLine.reserve(lines);
    CsvRow row;
    CardFields fields;
    while (reader.next(row)) {
        if (!row.error.empty()) {
            errors.push_back(RowError{row.line, column_at(row.errorField), row.error});
            continue;
        }
        if (row.fields.size() != kCardColumnCount) {
            errors.push_back(field_count_error(row));
            continue;
        }
        // An empty field is one not given, as card_from_fields reads it.
        for (std::size_t i = 0; i < kCardColumnCount; ++i) fields[i] = std::move(row.fields[i]);
        bool twice = false;
        const std::optional<std::string>& cardText = fields[kCardColumn];
        if (cardText && card_text_problem(*cardText).empty()) {
            const auto first = firstLine.emplace(*cardText, row.line);
            if (!first.second) {
                twice = true;
                errors.push_back(RowError{
                    row.line, kCardColumns[kCardColumn],
                    "card " + *cardText + " is already on line " + std::to_string(first.first->second)});
            }
        }
        std::optional<Card> card = card_from_fields(fields, row.line, errors);
        if (card && !twice) cards.push_back(CardRow{row.line, std::move(*card)});
    }
    return cards;
}

std::string write_card_csv(const std::vector<Card>& cards) {
    std::string text = header_line() + '\n';
    text.reserve(text.size() + cards.size() * 96);
    for (const Card& card : cards) {
        const CardFields fields = fields_of(card);
        for (std::size_t i = 0; i < kCardColumnCount; ++i) {
            if (i > 0) text += ',';
            append_csv_field(text, fields[i].value_or(""));  // fields_of gives every one
        }
        text += '\n';
    }
    return text;
}

}  // namespace doorlinkd
