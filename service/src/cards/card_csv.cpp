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
        RowErrors errors;
        errors.add(RowError{1, column_at(field), reason + expected});
        throw errors.refusal();
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

RowLimit import_row_limit(std::size_t controllers) {
    const std::size_t perController = kMaxCardsPerController;
    if (controllers == 0)
        return RowLimit{perController, "as many as one controller holds; there is none yet"};
    if (controllers > kMaxImportRows / perController)
        return RowLimit{kMaxImportRows, "the most for any fleet"};
    return RowLimit{controllers * perController, std::to_string(perController) + " cards for each of " +
                                                     std::to_string(controllers) +
                                                     (controllers == 1 ? " controller" : " controllers")};
}

std::vector<CardRow> parse_card_csv(const std::string& text) {
    RowErrors errors;
    std::vector<CardRow> cards = parse_card_csv(text, errors);
    if (!errors.empty()) throw errors.refusal();
    return cards;
}

std::vector<CardRow> parse_card_csv(const std::string& text, RowErrors& errors, const RowLimit& limit) {
    CsvReader reader(without_byte_order_mark(text));
    check_header(reader);

    // Nothing is reserved ahead: what is kept grows with the good rows, and
    // a text of bad ones costs only the rows listed.
    std::vector<CardRow> cards;
    std::unordered_map<std::string, int> firstLine;  // of each card text
    std::size_t rows = 0;
    CsvRow row;
    CardFields fields;
    std::vector<RowError> rowErrors;
    while (reader.next(row)) {
        if (++rows > limit.rows) {
            // The rest is not read: its rows could not be taken anyway.
            throw Refused("more than " + std::to_string(limit.rows) + " rows: one import takes at most " +
                          std::to_string(limit.rows) + " (" + limit.why + "); row " + std::to_string(rows) +
                          " is on line " + std::to_string(row.line));
        }
        if (!row.error.empty()) {
            errors.add(RowError{row.line, column_at(row.errorField), row.error});
            continue;
        }
        if (row.fields.size() != kCardColumnCount) {
            errors.add(field_count_error(row));
            continue;
        }
        // An empty field is one not given, as card_from_fields reads it.
        for (std::size_t i = 0; i < kCardColumnCount; ++i) fields[i] = std::move(row.fields[i]);
        rowErrors.clear();
        bool twice = false;
        const std::optional<std::string>& cardText = fields[kCardColumn];
        if (cardText && card_text_problem(*cardText).empty()) {
            const auto first = firstLine.emplace(*cardText, row.line);
            if (!first.second) {
                twice = true;
                rowErrors.push_back(RowError{
                    row.line, kCardColumns[kCardColumn],
                    "card " + *cardText + " is already on line " + std::to_string(first.first->second)});
            }
        }
        std::optional<Card> card = card_from_fields(fields, row.line, rowErrors);
        for (RowError& error : rowErrors) errors.add(std::move(error));
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
