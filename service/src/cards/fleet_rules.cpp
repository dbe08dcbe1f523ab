// The rules between incoming cards and the fleet: names of known
// controllers, and no controller holding more cards than it can keep.
#include <algorithm>
#include <limits>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "cards/card_csv.h"
#include "cards/card_rules.h"

namespace doorlinkd {
namespace {

// Where the cards of the resulting set go: counts of the cards kept from
// before, and the positions of the incoming rows, per controller.
struct CardCounts {
    int keptForAll = 0;                         // kept cards that go to every controller
    std::unordered_map<std::string, int> kept;  // kept cards that name the controller
    std::vector<std::size_t> incomingForAll;    // incoming rows that go to every controller
    std::unordered_map<std::string, std::vector<std::size_t>> incoming;  // rows that name it
};

// Calls f once for each distinct controller name of a card.
template <typename F>
void for_each_named(const Card& card, F f) {
    if (card.controllers.size() < 2) {
        for (const std::string& name : card.controllers) f(name);
        return;
    }
    std::vector<const std::string*> names;
    names.reserve(card.controllers.size());
    for (const std::string& name : card.controllers) names.push_back(&name);
    std::sort(names.begin(), names.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i == 0 || *names[i] != *names[i - 1]) f(*names[i]);
    }
}

CardCounts count_cards(const std::vector<CardRow>& incoming, const std::vector<Card>& existing,
                       bool replace) {
    CardCounts counts;
    if (!replace) {
        std::unordered_set<std::string> updated;
        updated.reserve(incoming.size());
        for (const CardRow& row : incoming) updated.insert(row.card.card);
        for (const Card& card : existing) {
            if (updated.count(card.card)) continue;
            if (card.controllers.empty()) ++counts.keptForAll;
            for_each_named(card, [&](const std::string& name) { ++counts.kept[name]; });
        }
    }
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        const Card& card = incoming[i].card;
        if (card.controllers.empty()) counts.incomingForAll.push_back(i);
        for_each_named(card, [&](const std::string& name) { counts.incoming[name].push_back(i); });
    }
    return counts;
}

// The k-th (from 1) of two ascending lists merged.
std::size_t kth_of_merged(const std::vector<std::size_t>& a, const std::vector<std::size_t>& b,
                          std::size_t k) {
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t taken = 0;
    for (;;) {
        const bool fromA = j == b.size() || (i < a.size() && a[i] < b[j]);
        const std::size_t value = fromA ? a[i++] : b[j++];
        if (++taken == k) return value;
    }
}

// The controllers that would hold too many cards, by the line of the first
// incoming row past each one's limit (0: the kept cards alone pass it).
std::map<int, std::vector<RowError>> limit_errors(const std::vector<CardRow>& incoming,
                                                  const CardCounts& counts,
                                                  const std::vector<Controller>& controllers) {
    static const std::vector<std::size_t> kNone;
    std::map<int, std::vector<RowError>> errors;
    for (const Controller& controller : controllers) {
        const auto kept = counts.kept.find(controller.name);
        const auto named = counts.incoming.find(controller.name);
        const std::vector<std::size_t>& incomingNamed =
            named == counts.incoming.end() ? kNone : named->second;
        const std::size_t keptCount =
            static_cast<std::size_t>(counts.keptForAll + (kept == counts.kept.end() ? 0 : kept->second));
        const std::size_t total = keptCount + counts.incomingForAll.size() + incomingNamed.size();
        const std::size_t limit = kMaxCardsPerController;
        if (total <= limit) continue;
        const int line =
            keptCount > limit
                ? 0
                : incoming[kth_of_merged(counts.incomingForAll, incomingNamed, limit + 1 - keptCount)].line;
        errors[line].push_back(RowError{line, kCardColumns[kControllersColumn],
                                        "controller " + controller.name + " would hold " +
                                            std::to_string(total) + " cards; at most " +
                                            std::to_string(limit)});
    }
    return errors;
}

}  // namespace

void check_fleet_rules(const std::vector<CardRow>& incoming, const std::vector<Card>& existing, bool replace,
                       const std::vector<Controller>& controllers, RowErrors& errors) {
    std::unordered_set<std::string> known;
    for (const Controller& controller : controllers) known.insert(controller.name);
    std::map<int, std::vector<RowError>> overLimit =
        limit_errors(incoming, count_cards(incoming, existing, replace), controllers);
    // Row by row in line order, each row's unknown names before the limits
    // it passes.
    auto limits_up_to = [&](int line) {
        for (auto it = overLimit.begin(); it != overLimit.end() && it->first <= line;
             it = overLimit.erase(it)) {
            for (RowError& error : it->second) errors.add(std::move(error));
        }
    };
    for (const CardRow& row : incoming) {
        limits_up_to(row.line - 1);
        for_each_named(row.card, [&](const std::string& name) {
            if (!known.count(name)) {
                errors.add(
                    RowError{row.line, kCardColumns[kControllersColumn], "no controller named " + name});
            }
        });
        limits_up_to(row.line);
    }
    limits_up_to(std::numeric_limits<int>::max());
}

void check_fleet_rules(const std::vector<CardRow>& incoming, const std::vector<Card>& existing, bool replace,
                       const std::vector<Controller>& controllers) {
    RowErrors errors;
    check_fleet_rules(incoming, existing, replace, controllers, errors);
    if (!errors.empty()) throw errors.refusal();
}

}  // namespace doorlinkd
