#include "store/controllers.h"

#include <algorithm>
#include <set>
#include <utility>

#include "store/database.h"
#include "store/policy.h"
#include "store/sites.h"

namespace doorlinkd {

namespace {

// With the zone of its site, which a controller cannot be without.
constexpr const char* kSelectController =
    "SELECT c.name, c.address, c.mac, c.number, c.long_records, c.photos, c.site, s.zone"
    " FROM controllers c JOIN sites s ON s.name = c.site";

Controller controller_of(const Row& row) {
    Controller c;
    c.name = row.at(0).text();
    c.address = row.at(1).text();
    c.mac = row.at(2).text();
    c.number = static_cast<int>(row.at(3).integer());
    c.longRecords = row.at(4).integer() != 0;
    c.photos = row.at(5).integer() != 0;
    c.site = row.at(6).text();
    c.zone = row.at(7).text();
    return c;
}

// The columns of a card row but its number, as a list ("serial, password, ...").
std::string card_value_columns() {
    std::string columns;
    for (size_t i = 1; i < kCardColumns.size(); ++i) {
        if (i > 1) columns += ", ";
        columns += kCardColumns[i];
    }
    return columns;
}

// The card rows of the table cards, or of card_versions.
std::string select_cards(const char* table = "cards") {
    return "SELECT card, " + card_value_columns() + " FROM " + table;
}

Card card_of(const Row& row) {
    Card card;
    card.card = row.at(0).text();
    card.serial = row.at(1).text();
    card.password = row.at(2).text();
    card.userStyle = static_cast<int>(row.at(3).integer());
    card.openStyle = static_cast<int>(row.at(4).integer());
    for (size_t d = 0; d < kDays; ++d) card.days[d] = row.at(5 + d).text();
    card.extraCards = split_words(row.at(5 + kDays).text());
    card.controllers = split_words(row.at(6 + kDays).text());
    return card;
}

// Inserts a card row, or updates the stored one when it differs; the
// statement changes a row only then.
std::string card_upsert() {
    std::string updates;
    std::string differs;
    for (size_t i = 1; i < kCardColumns.size(); ++i) {
        const std::string column = kCardColumns[i];
        if (i > 1) {
            updates += ", ";
            differs += " OR ";
        }
        updates.append(column).append(" = excluded.").append(column);
        differs.append("cards.").append(column).append(" <> excluded.").append(column);
    }
    std::string marks = "?";
    for (size_t i = 1; i < kCardColumns.size(); ++i) marks += ", ?";
    return "INSERT INTO cards (card, " + card_value_columns() + ") VALUES (" + marks +
           ") ON CONFLICT (card) DO UPDATE SET " + updates + " WHERE " + differs;
}

std::vector<Value> card_values(const Card& card) {
    std::vector<Value> params = {card.card, card.serial, card.password, card.userStyle, card.openStyle};
    for (const std::string& day : card.days) params.emplace_back(day);
    params.emplace_back(join_words(card.extraCards));
    params.emplace_back(join_words(card.controllers));
    return params;
}

// Card numbers a version statement names at most: far below either
// database's limit of parameters.
constexpr size_t kVersionBatch = 500;

// The cards whose rows the transaction changed (added, updated or removed)
// get a version of the revision it saves: the saved version ends, and the
// row as it is now, if any, is the new one.
void record_card_versions(Tx& tx, std::vector<std::string> cards, int64_t revision) {
    std::sort(cards.begin(), cards.end());
    cards.erase(std::unique(cards.begin(), cards.end()), cards.end());
    const std::string insert = "INSERT INTO card_versions (card, since, " + card_value_columns() +
                               ") SELECT card, ?, " + card_value_columns() + " FROM cards WHERE card IN (";
    for (size_t first = 0; first < cards.size(); first += kVersionBatch) {
        const size_t count = std::min(kVersionBatch, cards.size() - first);
        std::vector<Value> params = {revision};
        std::string marks = "?";
        for (size_t i = 0; i < count; ++i) {
            params.emplace_back(cards[first + i]);
            if (i > 0) marks += ", ?";
        }
        tx.exec("UPDATE card_versions SET until = ? WHERE until IS NULL AND card IN (" + marks + ")", params);
        tx.exec(insert + marks + ")", params);
    }
}

}  // namespace

std::vector<Card> card_rows(Tx& tx) {
    std::vector<Card> out;
    tx.each(select_cards() + " ORDER BY card", [&](Row&& row) { out.push_back(card_of(row)); });
    return out;
}

std::vector<Card> card_rows_at(Tx& tx, int64_t revision) {
    std::vector<Card> out;
    tx.each(
        select_cards("card_versions") + " WHERE since <= ? AND (until IS NULL OR until > ?) ORDER BY card",
        {revision, revision}, [&](Row&& row) { out.push_back(card_of(row)); });
    return out;
}

std::vector<Controller> SqlControllers::controllers() {
    return db_.transaction(false, [](Tx& tx) {
        std::vector<Controller> out;
        for (const Row& row : tx.rows(kSelectController + std::string(" ORDER BY c.name"))) {
            out.push_back(controller_of(row));
        }
        return out;
    });
}

std::optional<Controller> SqlControllers::controller(const std::string& name) {
    return db_.transaction(false, [&](Tx& tx) -> std::optional<Controller> {
        const auto rows = tx.rows(kSelectController + std::string(" WHERE c.name = ?"), {name});
        if (rows.empty()) return std::nullopt;
        return controller_of(rows.front());
    });
}

void SqlControllers::add_controller(const Controller& c, bool reuseRetiredNumber) {
    db_.transaction(true, [&](Tx& tx) {
        if (tx.any("SELECT 1 FROM controllers WHERE name = ?", {c.name})) {
            throw Refused("a controller named " + c.name + " exists already");
        }
        // Its site stays until the controller is in.
        require_site(tx, c.site, "{for_key_share}");
        const std::string number = std::to_string(c.number);
        const auto holders = tx.rows("SELECT name FROM controllers WHERE number = ?", {c.number});
        if (!holders.empty()) {
            throw Refused("controller number " + number + " is taken by " + holders.front().at(0).text());
        }
        const auto retired = tx.rows("SELECT controller FROM retired_numbers WHERE number = ?", {c.number});
        if (!retired.empty()) {
            if (!reuseRetiredNumber) {
                throw Refused("controller number " + number + " was " + retired.front().at(0).text() +
                              "'s, which was removed: journal files left under number " + number +
                              " on any instance would be imported as the records of " + c.name +
                              "; --reuse-number (\"reuse_number\": true) takes it all the same");
            }
            tx.exec("DELETE FROM retired_numbers WHERE number = ?", {c.number});
        }
        try {
            tx.exec(
                "INSERT INTO controllers (name, address, mac, number, long_records, photos, site)"
                " VALUES (?, ?, ?, ?, ?, ?, ?)",
                {c.name, c.address, c.mac, c.number, c.longRecords, c.photos, c.site});
        } catch (const DatabaseError& error) {
            // Another process added one in between.
            if (error.kind() != DatabaseError::Kind::Unique) throw;
            throw Refused("a controller named " + c.name + " or numbered " + std::to_string(c.number) +
                          " exists already");
        }
        // Its scheduled syncs compile the policy of now until a plan is applied.
        tx.exec(
            "INSERT INTO controller_policy (controller, applied)"
            " SELECT ?, revision FROM policy_revision WHERE id = 1",
            {c.name});
        return 0;
    });
}

std::vector<std::string> SqlControllers::remove_controller(const std::string& name) {
    return db_.transaction(true, [&](Tx& tx) {
        if (!tx.any("SELECT 1 FROM controllers WHERE name = ?", {name})) {
            throw Refused("no controller named " + name);
        }
        // The cards' controllers are read and written one writer at a time.
        const int64_t locked = lock_policy_revision(tx);
        std::vector<std::string> only;  // cards that name this controller alone
        std::vector<std::pair<std::string, std::vector<std::string>>> among;  // and others
        for (const Row& row :
             tx.rows("SELECT card, controllers FROM cards WHERE controllers <> '' ORDER BY card")) {
            const std::vector<std::string> names = split_words(row.at(1).text());
            if (std::find(names.begin(), names.end(), name) == names.end()) continue;
            std::vector<std::string> rest;
            for (const std::string& n : names) {
                if (n != name) rest.push_back(n);
            }
            if (rest.empty()) {
                only.push_back(row.at(0).text());
            } else {
                among.emplace_back(row.at(0).text(), std::move(rest));
            }
        }
        if (!only.empty()) return only;
        if (!among.empty()) {
            const int64_t revision = next_policy_revision(tx, locked);
            std::vector<std::string> changed;
            for (const auto& entry : among) {
                tx.exec("UPDATE cards SET controllers = ? WHERE card = ?",
                        {join_words(entry.second), entry.first});
                changed.push_back(entry.first);
            }
            record_card_versions(tx, std::move(changed), revision);
        }
        // Its number is retired: the journal files left under it are
        // still this controller's.
        tx.exec(
            "INSERT INTO retired_numbers (number, controller, photos, retired)"
            " SELECT number, name, photos, {now_ms} FROM controllers WHERE name = ?"
            " ON CONFLICT (number) DO UPDATE SET controller = excluded.controller,"
            " photos = excluded.photos, retired = excluded.retired",
            {name});
        tx.exec("DELETE FROM controller_policy WHERE controller = ?", {name});
        tx.exec("DELETE FROM controllers WHERE name = ?", {name});
        return only;
    });
}

std::vector<RetiredNumber> SqlControllers::retired_numbers() {
    return db_.transaction(false, [](Tx& tx) {
        std::vector<RetiredNumber> out;
        for (const Row& row :
             tx.rows("SELECT number, controller, photos, retired FROM retired_numbers ORDER BY number")) {
            out.push_back(RetiredNumber{static_cast<int>(row.at(0).integer()), row.at(1).text(),
                                        row.at(2).integer() != 0, row.at(3).integer()});
        }
        return out;
    });
}

std::vector<Card> SqlControllers::cards() {
    return db_.transaction(false, [](Tx& tx) { return card_rows(tx); });
}

std::optional<Card> SqlControllers::card(const std::string& card) {
    return db_.transaction(false, [&](Tx& tx) -> std::optional<Card> {
        const auto rows = tx.rows(select_cards() + " WHERE card = ?", {card});
        if (rows.empty()) return std::nullopt;
        return card_of(rows.front());
    });
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
        if (replaceAll) {
            std::set<std::string> keep;
            for (const Card& card : cards) keep.insert(card.card);
            for (const Row& row : tx.rows("SELECT card FROM cards ORDER BY card")) {
                if (keep.count(row.at(0).text()) == 0) {
                    tx.exec("DELETE FROM cards WHERE card = ?", {row.at(0).text()});
                    changed.push_back(row.at(0).text());
                }
            }
        }
        record_card_versions(tx, std::move(changed), revision);
        return 0;
    });
}

bool SqlControllers::remove_card(const std::string& card) {
    return db_.transaction(true, [&](Tx& tx) {
        const int64_t revision = next_policy_revision(tx, lock_policy_revision(tx));
        if (tx.exec("DELETE FROM cards WHERE card = ?", {card}).changes == 0) return false;
        record_card_versions(tx, {card}, revision);
        return true;
    });
}

Page<Card> SqlControllers::cards_page(const std::string& search, int offset, int limit) {
    return db_.transaction(false, [&](Tx& tx) {
        std::vector<Value> params;
        std::string where;
        if (!search.empty()) {
            // A text in the middle of a column: no index helps, and a
            // scan of many thousand cards is quick.
            where =
                " WHERE card LIKE ? ESCAPE '!' OR serial LIKE ? ESCAPE '!' OR controllers LIKE ? ESCAPE "
                "'!'";
            const std::string pattern = "%" + like_escaped(search) + "%";
            params.assign(3, Value(pattern));
        }
        Page<Card> page;
        page.total = tx.rows("SELECT count(*) FROM cards" + where, params).at(0).at(0).integer();
        const std::string sql =
            select_cards() + where + " ORDER BY card" + page_clause(offset, limit, params);
        for (const Row& row : tx.rows(sql, params)) page.items.push_back(card_of(row));
        return page;
    });
}

}  // namespace doorlinkd
