// The card CSV of POST /api/v1/cards/import and `doorlinkd card import`,
// read and checked as card_import_text does: parse_card_csv, then the fleet
// rules (check_fleet_rules) against a small fixed fleet whose controller
// "hall" holds nearly as many cards as it may.
//   flags byte (bit 0: replace the cards), then the CSV text.
// Only RowsRefused for a bad header leaves the parser. The rows kept are
// in line order, each card once, none of a line with an error; written
// out again they read back the same. The fleet rules name exactly the
// unknown controllers of each row and each controller that would hold
// more than kMaxCardsPerController cards, at the row that passes the
// limit, with the errors in line order. Of the bad rows the first
// RowErrors::kListedRows by line are listed and the rest counted, also when
// the file's and the fleet's are merged as an import merges them.
#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cards/card_csv.h"
#include "cards/card_rules.h"
#include "support/fuzz_input.h"
#include "support/service_scratch.h"

using namespace doorlinkd;
using doorlink::fuzz::card_fleet;

namespace {

constexpr int kHallCards = kMaxCardsPerController - 4;

std::string card_text(int n) {
    std::string text = std::to_string(n);
    return std::string(8 - text.size(), '0') + text;
}

// Cards stored before: two for every controller, the rest for "hall".
const std::vector<Card>& existing() {
    static const std::vector<Card> cards = [] {
        std::vector<Card> out;
        for (int i = 0; i < kHallCards + 2; ++i) {
            Card card;
            card.card = card_text(10000 + i);
            card.serial = "000001";
            card.password = "000002";
            if (i >= 2) card.controllers = {"hall"};
            out.push_back(card);
        }
        return out;
    }();
    return cards;
}

const std::map<std::string, const Card*>& existing_index() {
    static const std::map<std::string, const Card*> index = [] {
        std::map<std::string, const Card*> out;
        for (const Card& card : existing()) out[card.card] = &card;
        return out;
    }();
    return index;
}

// How many of the cards stored before go to the controller.
size_t existing_count(const std::string& controller) {
    static std::map<std::string, size_t> counts;
    const auto found = counts.find(controller);
    if (found != counts.end()) return found->second;
    return counts[controller] =
               static_cast<size_t>(std::count_if(existing().begin(), existing().end(), [&](const Card& card) {
                   return goes_to(card, controller);
               }));
}

bool known(const std::string& name) {
    for (const Controller& c : card_fleet()) {
        if (c.name == name) return true;
    }
    return false;
}

// The errors the fleet rules should give, computed the plain way: a line
// and a reason each, in no order.
std::multiset<std::pair<int, std::string>> expected_fleet_errors(const std::vector<CardRow>& rows,
                                                                 bool replace) {
    std::multiset<std::pair<int, std::string>> errors;
    for (const CardRow& row : rows) {
        const std::set<std::string> names(row.card.controllers.begin(), row.card.controllers.end());
        for (const std::string& name : names) {
            if (!known(name)) errors.insert({row.line, "no controller named " + name});
        }
    }
    std::set<std::string> updated;
    for (const CardRow& row : rows) updated.insert(row.card.card);
    for (const Controller& controller : card_fleet()) {
        size_t kept = 0;
        if (!replace) {
            kept = existing_count(controller.name);
            for (const std::string& card : updated) {
                const auto stored = existing_index().find(card);
                if (stored != existing_index().end()) kept -= goes_to(*stored->second, controller.name);
            }
        }
        std::vector<int> lines;  // of the incoming rows that go to it
        for (const CardRow& row : rows) {
            if (goes_to(row.card, controller.name)) lines.push_back(row.line);
        }
        const size_t total = kept + lines.size();
        const size_t limit = kMaxCardsPerController;
        if (total <= limit) continue;
        const int line = kept > limit ? 0 : lines[limit - kept];
        errors.insert({line, "controller " + controller.name + " would hold " + std::to_string(total) +
                                 " cards; at most " + std::to_string(limit)});
    }
    return errors;
}

// The listed errors are in line order and name the first rows, all of them
// when they are few.
void check_listed(const RowErrors& errors) {
    std::set<int> lines;
    const std::vector<RowError>& listed = errors.listed();
    for (size_t i = 0; i < listed.size(); ++i) {
        FUZZ_CHECK(i == 0 || listed[i - 1].line <= listed[i].line);
        lines.insert(listed[i].line);
    }
    FUZZ_CHECK(lines.size() == std::min(errors.rows(), RowErrors::kListedRows));
    FUZZ_CHECK(errors.more_rows() == errors.rows() - lines.size());
}

// The errors of the first kListedRows lines among the given ones.
std::multiset<std::pair<int, std::string>> of_first_lines(
    const std::multiset<std::pair<int, std::string>>& all) {
    std::set<int> lines;
    for (const auto& error : all) lines.insert(error.first);
    std::multiset<std::pair<int, std::string>> first;
    for (const auto& error : all) {
        if (static_cast<size_t>(std::distance(lines.begin(), lines.find(error.first))) <
            RowErrors::kListedRows)
            first.insert(error);
    }
    return first;
}

void check_rows(const std::string& text, const std::vector<CardRow>& rows, const RowErrors& errors) {
    check_listed(errors);
    std::set<int> refusedLines;
    for (const RowError& e : errors.listed()) {
        FUZZ_CHECK(e.line >= 2 && !e.reason.empty());
        FUZZ_CHECK(std::find(kCardColumns.begin(), kCardColumns.end(), e.column) != kCardColumns.end());
        refusedLines.insert(e.line);
    }
    std::set<std::string> cards;
    for (size_t i = 0; i < rows.size(); ++i) {
        FUZZ_CHECK(i == 0 || rows[i - 1].line < rows[i].line);
        FUZZ_CHECK(rows[i].line >= 2 && !refusedLines.count(rows[i].line));
        FUZZ_CHECK(cards.insert(rows[i].card.card).second);
    }

    // The throwing form agrees.
    bool threw = false;
    try {
        parse_card_csv(text);
    } catch (const RowsRefused& refused) {
        threw = true;
        FUZZ_CHECK(refused.rows().size() == errors.listed().size() &&
                   refused.more_rows() == errors.more_rows());
    }
    FUZZ_CHECK(threw == !errors.empty());

    // What the export would write of the rows reads back the same.
    std::vector<Card> written;
    for (const CardRow& row : rows) written.push_back(row.card);
    const std::vector<CardRow> again = parse_card_csv(write_card_csv(written));
    FUZZ_CHECK(again.size() == rows.size());
    for (size_t i = 0; i < again.size(); ++i) {
        FUZZ_CHECK(again[i].card == rows[i].card && again[i].line == static_cast<int>(i) + 2);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    doorlink::fuzz::FuzzInput in(data, size);
    const bool replace = (in.u8() & 1) != 0;
    const std::string text(reinterpret_cast<const char*>(in.rest()), in.remaining());

    RowErrors errors;
    std::vector<CardRow> rows;
    try {
        rows = parse_card_csv(text, errors);
    } catch (const RowsRefused& refused) {  // the header
        FUZZ_CHECK(refused.rows().size() == 1 && refused.rows()[0].line == 1);
        return 0;
    }
    check_rows(text, rows, errors);

    RowErrors fleetErrors;
    check_fleet_rules(rows, existing(), replace, card_fleet(), fleetErrors);
    check_listed(fleetErrors);
    std::multiset<std::pair<int, std::string>> found;
    for (const RowError& e : fleetErrors.listed()) {
        FUZZ_CHECK(e.column == "controllers");
        found.insert({e.line, e.reason});
    }
    const std::multiset<std::pair<int, std::string>> expected = expected_fleet_errors(rows, replace);
    FUZZ_CHECK(found == of_first_lines(expected));
    std::set<int> expectedLines;
    for (const auto& error : expected) expectedLines.insert(error.first);
    FUZZ_CHECK(fleetErrors.rows() == expectedLines.size());

    // As an import checks them: the file's rows, then the fleet's, into one.
    std::multiset<std::pair<int, std::string>> both;
    for (const RowError& e : errors.listed()) both.insert({e.line, e.reason});
    std::copy(found.begin(), found.end(), std::inserter(both, both.end()));
    const size_t fileRows = errors.rows();
    check_fleet_rules(rows, existing(), replace, card_fleet(), errors);
    check_listed(errors);
    FUZZ_CHECK(errors.rows() == fileRows + fleetErrors.rows());
    std::multiset<std::pair<int, std::string>> merged;
    for (const RowError& e : errors.listed()) merged.insert({e.line, e.reason});
    FUZZ_CHECK(merged == of_first_lines(both));
    return 0;
}
