// The card CSV file and the rules every card input passes (the CSV import,
// `card set`): all rows are checked, and a file with any bad row is refused
// as a whole, each bad row named by its line and column (the first hundred
// of them; the rest are counted).
#pragma once

#include <array>
#include <cstddef>
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

// Refused input that names its bad rows: the first ones, and how many more
// there are when they are too many to list.
class RowsRefused : public Refused {
public:
    RowsRefused(const std::string& what, std::vector<RowError> rows, std::size_t moreRows = 0)
        : Refused(what), rows_(std::move(rows)), moreRows_(moreRows) {}
    const std::vector<RowError>& rows() const { return rows_; }
    std::size_t more_rows() const { return moreRows_; }

private:
    std::vector<RowError> rows_;
    std::size_t moreRows_;
};

// The bad rows of an input as they are found. The errors of the first
// kListedRows rows (by line) are kept and the rows past them only counted:
// a file of millions of bad rows costs no more than one of a hundred. A
// row's errors are added one after another, not between another row's.
class RowErrors {
public:
    static constexpr std::size_t kListedRows = 100;

    void add(RowError error);
    bool empty() const { return rows_ == 0; }
    std::size_t rows() const { return rows_; }  // the bad rows, listed or not
    const std::vector<RowError>& listed() const { return listed_; }
    std::size_t more_rows() const { return rows_ - listedRows_; }
    // The refusal naming them ("N rows are refused ..."), after prefix.
    RowsRefused refusal(const std::string& prefix = "") const;

private:
    bool is_listed(int line) const;

    std::vector<RowError> listed_;  // in line order, a row's errors in the order added
    std::size_t listedRows_ = 0;
    std::size_t rows_ = 0;
    int lastLine_ = 0;
    bool lastListed_ = false;
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

// The most rows one import reads: one card each, as many as the fleet's
// controllers can hold (kMaxCardsPerController each; a fleet of none yet
// the first one's worth), and never more than kMaxImportRows, so that an
// import's time and memory stay bounded.
constexpr std::size_t kMaxImportRows = 1000000;
struct RowLimit {
    std::size_t rows = kMaxImportRows;
    std::string why = "the most for any fleet";  // how the number comes about, for the refusal
};
RowLimit import_row_limit(std::size_t controllers);

// Reads a CSV text that starts with the header line. Throws RowsRefused
// naming the bad rows (fields, a card twice in the file, a bad header).
std::vector<CardRow> parse_card_csv(const std::string& text);
// The same, adding what is wrong to errors and returning the good rows, so
// that the fleet rules can be checked on them too and the bad rows named
// at once. A bad header still throws RowsRefused; a text of more rows than
// the limit throws Refused at the first row past it, unread.
std::vector<CardRow> parse_card_csv(const std::string& text, RowErrors& errors,
                                    const RowLimit& limit = RowLimit{});

// The rules between cards and the fleet: known controller names and at most
// kMaxCardsPerController cards per controller in the set that would result
// (`incoming` added to or updating `existing`, or replacing it). Throws
// RowsRefused naming the rows.
constexpr int kMaxCardsPerController = 5000;
void check_fleet_rules(const std::vector<CardRow>& incoming, const std::vector<Card>& existing, bool replace,
                       const std::vector<Controller>& controllers);
// The same, adding what is wrong to errors, a row's errors together.
void check_fleet_rules(const std::vector<CardRow>& incoming, const std::vector<Card>& existing, bool replace,
                       const std::vector<Controller>& controllers, RowErrors& errors);

// The CSV text of cards, header first.
std::string write_card_csv(const std::vector<Card>& cards);

}  // namespace doorlinkd
