// The card CSV file and the rules every card input passes (the CSV import,
// `card set`): all rows are checked, and a file with any bad row is refused
// as a whole, each bad row named by its line and column.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "model/card.h"
#include "model/controller.h"
#include "model/errors.h"

namespace doorlinkd {

struct RowError {
    int line = 0;        // 1 is the header line
    std::string column;  // a CSV column name
    std::string reason;
};

// Refused input that names its bad rows.
class RowsRefused : public Refused {
public:
    RowsRefused(const std::string& what, std::vector<RowError> rows)
        : Refused(what), rows_(std::move(rows)) {}
    const std::vector<RowError>& rows() const { return rows_; }

private:
    std::vector<RowError> rows_;
};

// The texts of a card's columns in CSV order; nullopt is a column not given,
// which takes its default (user style 1, open style 2, no time ranges, no
// further cards, every controller). card, serial and password have none.
using CardFields = std::array<std::optional<std::string>, 14>;

// Checks the fields and builds the card; appends what is wrong to errors
// (with the given line) and returns nullopt when anything is.
std::optional<Card> card_from_fields(const CardFields& fields, int line, std::vector<RowError>& errors);

// A card's fields as the CSV file holds them.
CardFields fields_of(const Card& card);

struct CardRow {
    int line = 0;
    Card card;
};

// Reads a CSV text that starts with the header line. Throws RowsRefused
// naming every bad row (fields, a card twice in the file, a bad header).
std::vector<CardRow> parse_card_csv(const std::string& text);
// The same, adding what is wrong to errors and returning the good rows, so
// that the fleet rules can be checked on them too and every bad row named
// at once. A bad header still throws.
std::vector<CardRow> parse_card_csv(const std::string& text, std::vector<RowError>& errors);

// The rules between cards and the fleet: known controller names and at most
// kMaxCardsPerController cards per controller in the set that would result
// (`incoming` added to or updating `existing`, or replacing it). Throws
// RowsRefused naming the rows.
constexpr int kMaxCardsPerController = 5000;
void check_fleet_rules(const std::vector<CardRow>& incoming, const std::vector<Card>& existing, bool replace,
                       const std::vector<Controller>& controllers);
// The same, adding what is wrong to errors (all of them in line order).
void check_fleet_rules(const std::vector<CardRow>& incoming, const std::vector<Card>& existing, bool replace,
                       const std::vector<Controller>& controllers, std::vector<RowError>& errors);

// The CSV text of cards, header first.
std::string write_card_csv(const std::vector<Card>& cards);

}  // namespace doorlinkd
