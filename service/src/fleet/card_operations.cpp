#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "cards/card_rules.h"
#include "common/atomic_file.h"
#include "fleet/json_forms.h"
#include "fleet/operations.h"
#include "policy/problems.h"
#include "zones/policy_clock.h"

namespace doorlinkd {
namespace {

// The card rows that putting incoming leaves, in card order.
std::vector<Card> resulting_rows(const std::vector<Card>& existing, const std::vector<Card>& incoming,
                                 bool replace) {
    std::map<std::string, const Card*> rows;
    if (!replace) {
        for (const Card& card : existing) rows[card.card] = &card;
    }
    for (const Card& card : incoming) rows[card.card] = &card;
    std::vector<Card> out;
    out.reserve(rows.size());
    for (const auto& row : rows) out.push_back(*row.second);
    return out;
}

// People stand beside the card rows: a controller's worst case counts both.
void check_beside_people(Store& store, const std::vector<Card>& existing, const std::vector<Card>& incoming,
                         bool replace) {
    PolicyAt at = store.policy();
    if (at.policy.people.empty()) return;
    at.policy.cards = resulting_rows(existing, incoming, replace);
    for (const PolicyProblem& problem : policy_problems(at.policy, store.controllers(), policy_now_ms())) {
        if (problem.kind == PolicyProblemKind::tooManyCards) throw Refused(problem.message);
    }
}

}  // namespace

Outcome card_import(Store& store, const std::string& file, bool replace) {
    return card_import_text(store, read_file(file), file, replace);
}

Outcome card_import_text(Store& store, const std::string& text, const std::string& source, bool replace) {
    const std::string prefix = source.empty() ? "" : source + ": ";
    const std::vector<Controller> controllers = store.controllers();
    // The bad rows are named at once: those of the file, then those against
    // the fleet among the rest; the first of them listed, the others counted.
    RowErrors errors;
    std::vector<CardRow> rows;
    try {
        rows = parse_card_csv(text, errors, import_row_limit(controllers.size()));
    } catch (const RowsRefused& refused) {
        throw RowsRefused(prefix + refused.what(), refused.rows(), refused.more_rows());
    } catch (const Refused& refused) {
        throw Refused(prefix + refused.what());
    }
    const std::vector<Card> existing = store.cards();
    check_fleet_rules(rows, existing, replace, controllers, errors);
    if (!errors.empty()) throw errors.refusal(prefix);
    std::set<std::string> held;
    for (const Card& card : existing) held.insert(card.card);
    std::vector<Card> cards;
    cards.reserve(rows.size());
    int added = 0;
    for (CardRow& row : rows) {
        added += held.erase(row.card.card) ? 0 : 1;
        cards.push_back(std::move(row.card));
    }
    const int updated = static_cast<int>(cards.size()) - added;
    const int removed = replace ? static_cast<int>(held.size()) : 0;
    check_beside_people(store, existing, cards, replace);
    store.put_cards(cards, replace);
    Outcome outcome;
    outcome.json = Json{{"added", added}, {"updated", updated}, {"removed", removed}};
    outcome.lines.push_back(prefix + std::to_string(added) + " cards added, " + std::to_string(updated) +
                            " updated" + (replace ? ", " + std::to_string(removed) + " removed" : ""));
    return outcome;
}

Outcome card_export(Store& store, const std::string& file) {
    const std::vector<Card> cards = store.cards();
    const std::string text = write_card_csv(cards);
    write_file_atomically(file, text.data(), text.size(), 0600);  // every card's PIN: the user's alone
    Outcome outcome;
    outcome.json = Json{{"cards", cards.size()}, {"file", file}};
    outcome.lines.push_back(std::to_string(cards.size()) + " cards written to " + file);
    return outcome;
}

Outcome card_set(Store& store, const CardFields& given) {
    CardFields fields = given;
    if (const std::optional<Card> existing = store.card(given[0].value_or(""))) {
        // The options given change the card; the others keep its values.
        const CardFields stored = fields_of(*existing);
        for (size_t i = 0; i < fields.size(); ++i) {
            if (!fields[i]) fields[i] = stored[i];
        }
    }
    return card_put(store, fields);
}

Outcome card_put(Store& store, const CardFields& fields) {
    const std::string cardText = fields[0].value_or("");
    std::vector<RowError> errors;
    std::optional<Card> card = card_from_fields(fields, 0, errors);
    if (!card) {
        std::string reasons;
        for (const RowError& e : errors)
            reasons += (reasons.empty() ? "" : "; ") + e.column + ": " + e.reason;
        throw RowsRefused("card " + cardText + " is refused: " + reasons, errors);
    }
    const std::vector<Card> existing = store.cards();
    const auto before =
        std::find_if(existing.begin(), existing.end(), [&](const Card& c) { return c.card == card->card; });
    check_fleet_rules({CardRow{0, *card}}, existing, false, store.controllers());
    check_beside_people(store, existing, {*card}, false);
    store.put_cards({*card}, false);
    Outcome outcome;
    outcome.json = to_json(*card, PinView::Shown);
    outcome.lines.push_back(before == existing.end()
                                ? "added card " + card->card
                                : "updated card " + card->card + ": " + card_changes(*before, *card));
    return outcome;
}

std::string card_changes(const Card& before, const Card& after) {
    const CardFields old = fields_of(before);
    const CardFields now = fields_of(after);
    std::string changed;
    for (size_t column = 0; column < old.size(); ++column) {
        if (column == kPasswordColumn || old[column] == now[column]) continue;
        changed += (changed.empty() ? "" : ", ") + std::string(kCardColumns[column]);
    }
    if (before.password != after.password)
        changed += (changed.empty() ? "" : "; ") + std::string("PIN changed");
    return changed.empty() ? "no change" : changed;
}

Outcome card_remove(Store& store, const std::string& card) {
    if (!store.remove_card(card)) throw Refused("no card " + card);
    Outcome outcome;
    outcome.json["removed"] = card;
    outcome.lines.push_back("removed card " + card);
    return outcome;
}

}  // namespace doorlinkd
