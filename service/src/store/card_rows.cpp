#include "store/card_rows.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "store/controllers.h"
#include "store/database.h"
#include "store/policy.h"

namespace doorlinkd {

namespace {

// The columns a card row keeps besides its number: those of the card file
// but controllers, which are rows of their own, and then whether it goes to
// every controller.
const std::vector<std::string>& stored_columns() {
    static const std::vector<std::string> columns = [] {
        std::vector<std::string> names(kCardColumns.begin() + 1, kCardColumns.end() - 1);
        names.emplace_back("every_controller");
        return names;
    }();
    return columns;
}

// The first count of names as a list ("serial, password, ..."), each after prefix.
std::string listed(const std::vector<std::string>& names, size_t count, const std::string& prefix = "") {
    std::string list;
    for (size_t i = 0; i < count; ++i) list += (i == 0 ? "" : ", ") + prefix + names[i];
    return list;
}

// The columns read of a card row besides its number, each after prefix.
std::string value_columns(const std::string& prefix) {
    return listed(stored_columns(), stored_columns().size() - 1, prefix);
}

// The columns written besides the number.
std::string written_columns() { return listed(stored_columns(), stored_columns().size()); }

// Where a card row's controllers are kept.
struct CardTable {
    const char* rows;
    const char* names;
    bool versions;  // rows named by card and since, else by card
};
constexpr CardTable kNow{"cards", "card_controllers", false};
constexpr CardTable kVersions{"card_versions", "card_version_controllers", true};

// The columns that name a row, in both tables.
std::vector<std::string> key_of(const CardTable& table) {
    if (table.versions) return {"card", "since"};
    return {"card"};
}

// A card row as each_card reads it, its controllers aside.
Card card_of(const Row& row) {
    Card card;
    card.card = row.at(0).text();
    card.serial = row.at(1).text();
    card.password = row.at(2).text();
    card.userStyle = static_cast<int>(row.at(3).integer());
    card.openStyle = static_cast<int>(row.at(4).integer());
    for (size_t d = 0; d < kDays; ++d) card.days[d] = row.at(5 + d).text();
    card.extraCards = split_words(row.at(5 + kDays).text());
    return card;
}

// Hands on the card rows of source (the table's rows, or a query of them in
// parentheses, read as c) that where selects, in card order, each with the
// controllers it names: one card row at a time is held.
void each_card(Tx& tx, const CardTable& table, const std::string& source, const std::string& where,
               const std::vector<Value>& params, const std::function<void(Card&&)>& onCard) {
    std::string on;
    for (const std::string& column : key_of(table))
        on.append(on.empty() ? "" : " AND ").append("n.").append(column).append(" = c.").append(column);
    const std::string sql = "SELECT c.card, " + value_columns("c.") + ", n.controller FROM " + source +
                            " c LEFT JOIN " + table.names + " n ON " + on + where + " ORDER BY c.card, n.seq";
    std::optional<Card> card;
    tx.each(sql, params, [&](Row&& row) {
        if (card && card->card != row.at(0).text()) {
            onCard(std::move(*card));
            card.reset();
        }
        if (!card) card = card_of(row);
        if (!row.back().is_null()) card->controllers.push_back(row.back().text());
    });
    if (card) onCard(std::move(*card));
}

std::vector<Card> cards_of(Tx& tx, const CardTable& table, const std::string& source,
                           const std::string& where, const std::vector<Value>& params) {
    std::vector<Card> out;
    each_card(tx, table, source, where, params, [&](Card&& card) { out.push_back(std::move(card)); });
    return out;
}

// A version standing at a revision (two parameters: the revision twice).
constexpr const char* kStandsAt = "v.since <= ? AND (v.until IS NULL OR v.until > ?)";

// Inserts rows of `width` values each (values holds them one after the
// other) into `into` ("table (columns)"), many rows to a statement.
void insert_rows(Tx& tx, const std::string& into, size_t width, const std::vector<Value>& values) {
    const size_t perStatement = std::max<size_t>(1, kBatchValues / width) * width;
    std::string row = "(?";
    for (size_t i = 1; i < width; ++i) row += ", ?";
    row += ")";
    for (size_t first = 0; first < values.size(); first += perStatement) {
        const size_t end = std::min(first + perStatement, values.size());
        std::string sql = "INSERT INTO " + into + " VALUES ";
        for (size_t i = first; i < end; i += width) sql.append(i == first ? "" : ", ").append(row);
        tx.exec(sql, std::vector<Value>(values.begin() + static_cast<std::ptrdiff_t>(first),
                                        values.begin() + static_cast<std::ptrdiff_t>(end)));
    }
}

// Appends the rows of card_controllers that name the card's controllers.
void append_name_rows(const Card& card, std::vector<Value>& values) {
    int seq = 0;
    for (const std::string& name : card.controllers) {
        values.emplace_back(card.card);
        values.emplace_back(seq++);
        values.emplace_back(name);
    }
}

// Inserts a card row, or updates the stored one when it differs; the
// statement changes a row only then.
std::string card_upsert() {
    std::string updates;
    std::string differs;
    std::string marks = "?";
    for (const std::string& name : stored_columns()) {
        if (!updates.empty()) {
            updates += ", ";
            differs += " OR ";
        }
        updates.append(name).append(" = excluded.").append(name);
        differs.append("cards.").append(name).append(" <> excluded.").append(name);
        marks += ", ?";
    }
    return "INSERT INTO cards (card, " + written_columns() + ") VALUES (" + marks +
           ") ON CONFLICT (card) DO UPDATE SET " + updates + " WHERE " + differs;
}

std::vector<Value> card_values(const Card& card) {
    std::vector<Value> params = {card.card, card.serial, card.password, card.userStyle, card.openStyle};
    for (const std::string& day : card.days) params.emplace_back(day);
    params.emplace_back(join_words(card.extraCards));
    params.emplace_back(card.controllers.empty());
    return params;
}

// The controllers the stored card rows of these cards name, by card.
std::map<std::string, std::vector<std::string>> stored_names(Tx& tx, const std::vector<Value>& cards) {
    std::map<std::string, std::vector<std::string>> names;
    in_batches(cards, "?", [&](const std::vector<Value>& part, const std::string& placeholders) {
        tx.each("SELECT card, controller FROM card_controllers WHERE card IN (" + placeholders +
                    ") ORDER BY card, seq",
                part, [&](Row&& row) { names[row.at(0).text()].push_back(row.at(1).text()); });
    });
    return names;
}

// Writes the card rows' controllers where they differ from the stored ones;
// returns the cards whose controllers changed.
std::vector<std::string> put_card_names(Tx& tx, const std::vector<const Card*>& cards) {
    std::vector<Value> numbers;
    numbers.reserve(cards.size());
    for (const Card* card : cards) numbers.emplace_back(card->card);
    const std::map<std::string, std::vector<std::string>> stored = stored_names(tx, numbers);
    static const std::vector<std::string> kNone;
    std::vector<std::string> changed;
    std::vector<Value> gone;
    std::vector<Value> rows;
    for (const Card* card : cards) {
        const auto found = stored.find(card->card);
        if ((found == stored.end() ? kNone : found->second) == card->controllers) continue;
        changed.push_back(card->card);
        if (found != stored.end()) gone.emplace_back(card->card);
        append_name_rows(*card, rows);
    }
    in_batches(gone, "?", [&](const std::vector<Value>& part, const std::string& placeholders) {
        tx.exec("DELETE FROM card_controllers WHERE card IN (" + placeholders + ")", part);
    });
    insert_rows(tx, "card_controllers (card, seq, controller)", 3, rows);
    return changed;
}

// The cards whose rows the transaction changed (added, updated or removed)
// get a version of the revision it saves: the saved version ends, and the
// row as it is now, if any, is the new one, with its controllers.
void record_card_versions(Tx& tx, std::vector<std::string> cards, int64_t revision) {
    std::sort(cards.begin(), cards.end());
    cards.erase(std::unique(cards.begin(), cards.end()), cards.end());
    const std::vector<Value> numbers(cards.begin(), cards.end());
    in_batches(numbers, "?", [&](const std::vector<Value>& part, const std::string& placeholders) {
        std::vector<Value> params = {revision};
        params.insert(params.end(), part.begin(), part.end());
        tx.exec("UPDATE card_versions SET until = ? WHERE until IS NULL AND card IN (" + placeholders + ")",
                params);
        tx.exec("INSERT INTO card_versions (card, since, " + written_columns() + ") SELECT card, ?, " +
                    written_columns() + " FROM cards WHERE card IN (" + placeholders + ")",
                params);
        tx.exec(
            "INSERT INTO card_version_controllers (card, since, seq, controller)"
            " SELECT card, ?, seq, controller FROM card_controllers WHERE card IN (" +
                placeholders + ")",
            params);
    });
}

void remove_card_rows(Tx& tx, const std::vector<Value>& cards) {
    in_batches(cards, "?", [&](const std::vector<Value>& part, const std::string& placeholders) {
        tx.exec("DELETE FROM card_controllers WHERE card IN (" + placeholders + ")", part);
        tx.exec("DELETE FROM cards WHERE card IN (" + placeholders + ")", part);
    });
}

// Rows converted per statement by the upgrade.
constexpr int kUpgradePage = 1000;

// The texts of controllers of one table as rows of its names table, a page
// of rows at a time in key order; then the rows that name none are marked.
void move_names_to_rows(Tx& tx, const CardTable& table) {
    const std::vector<std::string> keyColumns = key_of(table);
    const size_t keyWidth = keyColumns.size();
    const std::string key = listed(keyColumns, keyWidth);
    std::string after;  // the key of a row after the last one read
    std::string joined;
    for (const std::string& column : keyColumns) {
        after += std::string(after.empty() ? "" : ", ") + "?";
        joined.append(joined.empty() ? "" : " AND ")
            .append("n.")
            .append(column)
            .append(" = ")
            .append(table.rows)
            .append(".")
            .append(column);
    }
    const std::string page = "SELECT " + key + ", controllers FROM " + table.rows +
                             " WHERE controllers <> '' AND (" + key + ") > (" + after + ") ORDER BY " + key +
                             " LIMIT " + std::to_string(kUpgradePage);
    std::vector<Value> last(keyWidth, Value(""));
    if (keyWidth > 1) last[1] = Value(int64_t{-1});
    for (;;) {
        const std::vector<Row> rows = tx.rows(page, last);
        std::vector<Value> names;
        for (const Row& row : rows) {
            int seq = 0;
            for (const std::string& name : split_words(row.at(keyWidth).text())) {
                names.insert(names.end(), row.begin(), row.begin() + static_cast<std::ptrdiff_t>(keyWidth));
                names.emplace_back(seq++);
                names.emplace_back(name);
            }
        }
        insert_rows(tx, std::string(table.names) + " (" + key + ", seq, controller)", keyWidth + 2, names);
        if (rows.size() < static_cast<size_t>(kUpgradePage)) break;
        last.assign(rows.back().begin(), rows.back().begin() + static_cast<std::ptrdiff_t>(keyWidth));
    }
    tx.exec(std::string("UPDATE ") + table.rows +
            " SET every_controller = 1 WHERE NOT EXISTS (SELECT 1 FROM " + table.names + " n WHERE " +
            joined + ")");
    tx.exec(std::string("ALTER TABLE ") + table.rows + " DROP COLUMN controllers");
}

}  // namespace

std::vector<Card> card_rows(Tx& tx) { return cards_of(tx, kNow, "cards", "", {}); }

std::vector<Card> card_rows_at(Tx& tx, int64_t revision) {
    return cards_of(tx, kVersions, std::string("(SELECT * FROM card_versions v WHERE ") + kStandsAt + ")", "",
                    {revision, revision});
}

std::vector<Card> controller_card_rows_at(Tx& tx, const std::string& controller, int64_t revision) {
    // Those for every controller by their partial index, and those that
    // name it (once, however often) by the index of names.
    const std::string source =
        std::string("(SELECT v.* FROM card_versions v WHERE v.every_controller = 1 AND ") + kStandsAt +
        " UNION ALL SELECT DISTINCT v.* FROM card_version_controllers n JOIN card_versions v"
        " ON v.card = n.card AND v.since = n.since WHERE n.controller = ? AND " +
        kStandsAt + ")";
    return cards_of(tx, kVersions, source, "", {revision, revision, controller, revision, revision});
}

std::vector<std::string> drop_controller_from_cards(Tx& tx, const std::string& controller, int64_t locked) {
    std::vector<std::string> only;   // cards that name this controller alone
    std::vector<std::string> among;  // and others
    tx.each(
        "SELECT card, sum(CASE WHEN controller = ? THEN 0 ELSE 1 END) FROM card_controllers"
        " WHERE card IN (SELECT card FROM card_controllers WHERE controller = ?) GROUP BY card ORDER BY card",
        {controller, controller},
        [&](Row&& row) { (row.at(1).integer() == 0 ? only : among).push_back(row.at(0).text()); });
    if (!only.empty() || among.empty()) return only;
    const int64_t revision = next_policy_revision(tx, locked);
    tx.exec("DELETE FROM card_controllers WHERE controller = ?", {controller});
    record_card_versions(tx, std::move(among), revision);
    return only;
}

void move_card_controllers_to_rows(Tx& tx) {
    move_names_to_rows(tx, kNow);
    move_names_to_rows(tx, kVersions);
}

std::vector<Card> SqlControllers::cards() {
    return db_.transaction(false, [](Tx& tx) { return card_rows(tx); });
}

std::optional<Card> SqlControllers::card(const std::string& card) {
    return db_.transaction(false, [&](Tx& tx) -> std::optional<Card> {
        std::vector<Card> found = cards_of(tx, kNow, "cards", " WHERE c.card = ?", {card});
        if (found.empty()) return std::nullopt;
        return std::move(found.front());
    });
}

std::vector<Card> SqlControllers::controller_cards_at(const std::string& controller, int64_t revision) {
    return db_.transaction(false, [&](Tx& tx) { return controller_card_rows_at(tx, controller, revision); });
}

void SqlControllers::put_cards(const std::vector<Card>& cards, bool replaceAll) {
    // In card order, so that concurrent writers lock rows in one order.
    std::vector<const Card*> sorted;
    sorted.reserve(cards.size());
    for (const Card& card : cards) sorted.push_back(&card);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Card* a, const Card* b) { return a->card < b->card; });
    db_.transaction(true, [&](Tx& tx) {
        // Card rows stand beside people in the policy: one writer at a time.
        const int64_t revision = next_policy_revision(tx, lock_policy_revision(tx));
        std::set<std::string> peoples;
        tx.each("SELECT card FROM person_cards WHERE until IS NULL",
                [&](Row&& row) { peoples.insert(row.at(0).text()); });
        for (const Card* card : sorted) {
            if (peoples.count(card->card) != 0) {
                throw Refused("card " + card->card +
                              " is a person's: a card number is either a person's or a row's");
            }
        }
        std::vector<std::string> changed;
        const std::string upsert = card_upsert();
        for (const Card* card : sorted) {
            if (tx.exec(upsert, card_values(*card)).changes > 0) changed.push_back(card->card);
        }
        for (std::string& card : put_card_names(tx, sorted)) changed.push_back(std::move(card));
        if (replaceAll) {
            std::set<std::string> keep;
            for (const Card& card : cards) keep.insert(card.card);
            std::vector<Value> gone;
            for (const Row& row : tx.rows("SELECT card FROM cards ORDER BY card")) {
                if (keep.count(row.at(0).text()) != 0) continue;
                gone.push_back(row.at(0));
                changed.push_back(row.at(0).text());
            }
            remove_card_rows(tx, gone);
        }
        record_card_versions(tx, std::move(changed), revision);
        return 0;
    });
}

bool SqlControllers::remove_card(const std::string& card) {
    return db_.transaction(true, [&](Tx& tx) {
        const int64_t revision = next_policy_revision(tx, lock_policy_revision(tx));
        if (!tx.any("SELECT 1 FROM cards WHERE card = ?", {card})) return false;
        remove_card_rows(tx, {Value(card)});
        record_card_versions(tx, {card}, revision);
        return true;
    });
}

Page<Card> SqlControllers::cards_page(const std::string& search, int offset, int limit) {
    return db_.transaction(false, [&](Tx& tx) {
        std::vector<Value> params;
        std::string where;
        if (!search.empty()) {
            // A text in the middle of a column, or of the card's controllers
            // as they are listed: no index helps, and a scan of many
            // thousand cards is quick.
            where =
                " WHERE card LIKE ? ESCAPE '!' OR serial LIKE ? ESCAPE '!' OR (SELECT {text_agg}(controller, "
                "' ')"
                " FROM (SELECT controller FROM card_controllers n WHERE n.card = cards.card ORDER BY seq) "
                "listed)"
                " LIKE ? ESCAPE '!'";
            const std::string pattern = "%" + like_escaped(search) + "%";
            params.assign(3, Value(pattern));
        }
        Page<Card> page;
        page.total = tx.rows("SELECT count(*) FROM cards" + where, params).at(0).at(0).integer();
        const std::string matching =
            "(SELECT * FROM cards" + where + " ORDER BY card" + page_clause(offset, limit, params) + ")";
        page.items = cards_of(tx, kNow, matching, "", params);
        return page;
    });
}

}  // namespace doorlinkd
