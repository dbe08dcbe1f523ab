#include <fstream>
#include <set>
#include <sstream>

#include "cards/card_rules.h"
#include "cli/commands.h"
#include "cli/json_forms.h"

namespace doorlinkd {
namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw StoreError("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw StoreError("cannot read " + path);
    return text.str();
}

}  // namespace

Outcome card_import(Store& store, const std::string& file, bool replace) {
    // Every bad row is named at once: those of the file, then those against
    // the fleet among the rest.
    std::vector<RowError> errors;
    std::vector<CardRow> rows;
    try {
        rows = parse_card_csv(read_file(file), errors);
    } catch (const RowsRefused& refused) {
        throw RowsRefused(file + ": " + refused.what(), refused.rows());
    }
    const std::vector<Card> existing = store.cards();
    check_fleet_rules(rows, existing, replace, store.controllers(), errors);
    if (!errors.empty()) {
        const RowsRefused refused = rows_refused(std::move(errors));
        throw RowsRefused(file + ": " + refused.what(), refused.rows());
    }
    std::set<std::string> held;
    for (const Card& card : existing) held.insert(card.card);
    std::vector<Card> cards;
    int added = 0;
    for (CardRow& row : rows) {
        added += held.erase(row.card.card) ? 0 : 1;
        cards.push_back(std::move(row.card));
    }
    const int updated = static_cast<int>(cards.size()) - added;
    const int removed = replace ? static_cast<int>(held.size()) : 0;
    store.put_cards(cards, replace);
    Outcome outcome;
    outcome.json = Json{{"added", added}, {"updated", updated}, {"removed", removed}};
    outcome.lines.push_back(file + ": " + std::to_string(added) + " cards added, " + std::to_string(updated) +
                            " updated" + (replace ? ", " + std::to_string(removed) + " removed" : ""));
    return outcome;
}

Outcome card_export(Store& store, const std::string& file) {
    const std::vector<Card> cards = store.cards();
    const std::string text = write_card_csv(cards);
    write_file_atomically(file, text.data(), text.size());
    Outcome outcome;
    outcome.json = Json{{"cards", cards.size()}, {"file", file}};
    outcome.lines.push_back(std::to_string(cards.size()) + " cards written to " + file);
    return outcome;
}

Outcome card_set(Store& store, const CardFields& given) {
    const std::string cardText = given[0].value_or("");
    CardFields fields = given;
    const std::optional<Card> existing = store.card(cardText);
    if (existing) {
        // The options given change the card; the others keep its values.
        const CardFields stored = fields_of(*existing);
        for (size_t i = 0; i < fields.size(); ++i) {
            if (!fields[i]) fields[i] = stored[i];
        }
    }
    std::vector<RowError> errors;
    std::optional<Card> card = card_from_fields(fields, 0, errors);
    if (!card) {
        std::string reasons;
        for (const RowError& e : errors)
            reasons += (reasons.empty() ? "" : "; ") + e.column + ": " + e.reason;
        throw RowsRefused("card " + cardText + " is refused: " + reasons, errors);
    }
    check_fleet_rules({CardRow{0, *card}}, store.cards(), false, store.controllers());
    store.put_cards({*card}, false);
    Outcome outcome;
    outcome.json = to_json(*card);
    outcome.lines.push_back((existing ? "updated card " : "added card ") + card->card);
    return outcome;
}

Outcome card_remove(Store& store, const std::string& card) {
    if (!store.remove_card(card)) throw Refused("no card " + card);
    Outcome outcome;
    outcome.json["removed"] = card;
    outcome.lines.push_back("removed card " + card);
    return outcome;
}

}  // namespace doorlinkd
