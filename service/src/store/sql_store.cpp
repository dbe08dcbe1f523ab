// The store's one implementation: its schema, its SQL and its rules, over a
// pool of connections of either backend (store/connection.h).
#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "store/connection.h"
#include "store/pool.h"
#include "store/record_event.h"
#include "store/schema.h"
#include "store/store.h"

namespace doorlinkd {

namespace {

// Attempts of a transaction that the database ended for a deadlock or a
// serialisation failure.
constexpr int kAttempts = 5;

// How long retention spares a pushed photo that nothing names yet: its
// event is stored just after it.
constexpr int64_t kPushedPhotoGraceMs = 60000;

SyncStatus status_from_name(const std::string& name) {
    for (const SyncStatus status : {SyncStatus::InStep, SyncStatus::Repaired, SyncStatus::Drift,
                                    SyncStatus::Unreachable, SyncStatus::Busy}) {
        if (name == status_name(status)) return status;
    }
    throw StoreError("the database holds an unknown sync status \"" + name + "\"");
}

ArchiveStatus archive_status_from_name(const std::string& name) {
    for (const ArchiveStatus status :
         {ArchiveStatus::Done, ArchiveStatus::Unreachable, ArchiveStatus::Busy}) {
        if (name == status_name(status)) return status;
    }
    throw StoreError("the database holds an unknown archive status \"" + name + "\"");
}

std::optional<std::string> optional_text(const Value& value) {
    if (value.is_null()) return std::nullopt;
    return value.text();
}

Value nullable(const std::optional<std::string>& text) { return text ? Value(*text) : Value(); }

// One transaction's statements, with the dialect's tokens expanded.
class Tx {
public:
    explicit Tx(Connection& connection) : c_(connection), d_(connection.dialect()) {}
    const Dialect& dialect() const { return d_; }
    Result exec(const std::string& sql, const std::vector<Value>& params = {}) {
        return c_.execute(d_.expand(sql), params);
    }
    std::vector<Row> rows(const std::string& sql, const std::vector<Value>& params = {}) {
        return exec(sql, params).rows;
    }
    bool any(const std::string& sql, const std::vector<Value>& params = {}) {
        return !rows(sql, params).empty();
    }
    // Each row as it comes, for results too large to hold twice.
    void each(const std::string& sql, const std::function<void(Row&&)>& onRow) {
        c_.execute_each(d_.expand(sql), {}, onRow);
    }

private:
    Connection& c_;
    const Dialect& d_;
};

class SqlStore : public Store {
public:
    SqlStore(Connector connect, std::unique_ptr<Connection> first)
        : pool_(std::move(connect), std::move(first)) {}

    int initialise() override {
        return transaction(true, [](Tx& tx) {
            if (!tx.dialect().schemaLock.empty()) tx.exec(tx.dialect().schemaLock);
            tx.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
            const int version = schema_version(tx);
            if (version > kSchemaVersion) throw StoreError(newer_message(version));
            const auto& steps = upgrade_steps();
            for (int v = version; v < kSchemaVersion; ++v) {
                for (const std::string& statement : steps.at(static_cast<size_t>(v))) tx.exec(statement);
            }
            if (version != kSchemaVersion) {
                tx.exec("DELETE FROM schema_version");
                tx.exec("INSERT INTO schema_version (version) VALUES (?)", {kSchemaVersion});
            }
            return kSchemaVersion;
        });
    }

    void require_schema() override {
        transaction(false, [](Tx& tx) {
            const int version = tx.any(tx.dialect().tableExists, {"schema_version"}) ? schema_version(tx) : 0;
            if (version == 0) throw StoreError("the database has no schema; run doorlinkd init");
            if (version > kSchemaVersion) throw StoreError(newer_message(version));
            if (version < kSchemaVersion) {
                throw StoreError("the database's schema version " + std::to_string(version) +
                                 " is older than this program's (" + std::to_string(kSchemaVersion) +
                                 "); run doorlinkd init to upgrade it");
            }
            return 0;
        });
    }

    std::vector<Controller> controllers() override {
        return transaction(false, [](Tx& tx) {
            std::vector<Controller> out;
            for (const Row& row : tx.rows(kSelectController + std::string(" ORDER BY name"))) {
                out.push_back(controller_of(row));
            }
            return out;
        });
    }

    std::optional<Controller> controller(const std::string& name) override {
        return transaction(false, [&](Tx& tx) -> std::optional<Controller> {
            const auto rows = tx.rows(kSelectController + std::string(" WHERE name = ?"), {name});
            if (rows.empty()) return std::nullopt;
            return controller_of(rows.front());
        });
    }

    void add_controller(const Controller& c, bool reuseRetiredNumber) override {
        transaction(true, [&](Tx& tx) {
            if (tx.any("SELECT 1 FROM controllers WHERE name = ?", {c.name})) {
                throw Refused("a controller named " + c.name + " exists already");
            }
            const std::string number = std::to_string(c.number);
            const auto holders = tx.rows("SELECT name FROM controllers WHERE number = ?", {c.number});
            if (!holders.empty()) {
                throw Refused("controller number " + number + " is taken by " + holders.front().at(0).text());
            }
            const auto retired =
                tx.rows("SELECT controller FROM retired_numbers WHERE number = ?", {c.number});
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
                    "INSERT INTO controllers (name, address, mac, number, long_records, photos)"
                    " VALUES (?, ?, ?, ?, ?, ?)",
                    {c.name, c.address, c.mac, c.number, c.longRecords, c.photos});
            } catch (const DatabaseError& error) {
                // Another process added one in between.
                if (error.kind() != DatabaseError::Kind::Unique) throw;
                throw Refused("a controller named " + c.name + " or numbered " + std::to_string(c.number) +
                              " exists already");
            }
            return 0;
        });
    }

    std::vector<std::string> remove_controller(const std::string& name) override {
        return transaction(true, [&](Tx& tx) {
            if (!tx.any("SELECT 1 FROM controllers WHERE name = ?", {name})) {
                throw Refused("no controller named " + name);
            }
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
            for (const auto& entry : among) {
                tx.exec("UPDATE cards SET controllers = ? WHERE card = ?",
                        {join_words(entry.second), entry.first});
            }
            // Its number is retired: the journal files left under it are
            // still this controller's.
            tx.exec(
                "INSERT INTO retired_numbers (number, controller, photos, retired)"
                " SELECT number, name, photos, {now_ms} FROM controllers WHERE name = ?"
                " ON CONFLICT (number) DO UPDATE SET controller = excluded.controller,"
                " photos = excluded.photos, retired = excluded.retired",
                {name});
            tx.exec("DELETE FROM controllers WHERE name = ?", {name});
            return only;
        });
    }

    std::vector<RetiredNumber> retired_numbers() override {
        return transaction(false, [](Tx& tx) {
            std::vector<RetiredNumber> out;
            for (const Row& row :
                 tx.rows("SELECT number, controller, photos, retired FROM retired_numbers ORDER BY number")) {
                out.push_back(RetiredNumber{static_cast<int>(row.at(0).integer()), row.at(1).text(),
                                            row.at(2).integer() != 0, row.at(3).integer()});
            }
            return out;
        });
    }

    std::vector<Card> cards() override {
        return transaction(false, [](Tx& tx) {
            std::vector<Card> out;
            tx.each(select_cards() + " ORDER BY card", [&](Row&& row) { out.push_back(card_of(row)); });
            return out;
        });
    }

    std::optional<Card> card(const std::string& card) override {
        return transaction(false, [&](Tx& tx) -> std::optional<Card> {
            const auto rows = tx.rows(select_cards() + " WHERE card = ?", {card});
            if (rows.empty()) return std::nullopt;
            return card_of(rows.front());
        });
    }

    void put_cards(const std::vector<Card>& cards, bool replaceAll) override {
        // In card order, so that concurrent writers lock rows in one order.
        std::vector<const Card*> sorted;
        sorted.reserve(cards.size());
        for (const Card& card : cards) sorted.push_back(&card);
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Card* a, const Card* b) { return a->card < b->card; });
        transaction(true, [&](Tx& tx) {
            std::string columns = "card, serial, password, user_style, open_style";
            std::string updates =
                "serial = excluded.serial, password = excluded.password, user_style = excluded.user_style,"
                " open_style = excluded.open_style";
            for (int d = kFirstDayColumn; d < kFirstDayColumn + kDays; ++d) {
                const std::string day = kCardColumns[d];
                columns += ", " + day;
                // NOLINTNEXTLINE(performance-inefficient-string-concatenation): seven columns, once per call
                updates += ", " + day + " = excluded." + day;
            }
            columns += ", extra_cards, controllers";
            updates += ", extra_cards = excluded.extra_cards, controllers = excluded.controllers";
            const std::string upsert = "INSERT INTO cards (" + columns +
                                       ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                       " ON CONFLICT (card) DO UPDATE SET " +
                                       updates;
            for (const Card* card : sorted) {
                std::vector<Value> params = {card->card, card->serial, card->password, card->userStyle,
                                             card->openStyle};
                for (const std::string& day : card->days) params.emplace_back(day);
                params.emplace_back(join_words(card->extraCards));
                params.emplace_back(join_words(card->controllers));
                tx.exec(upsert, params);
            }
            if (replaceAll) {
                std::set<std::string> keep;
                for (const Card& card : cards) keep.insert(card.card);
                for (const Row& row : tx.rows("SELECT card FROM cards ORDER BY card")) {
                    if (keep.count(row.at(0).text()) == 0) {
                        tx.exec("DELETE FROM cards WHERE card = ?", {row.at(0).text()});
                    }
                }
            }
            return 0;
        });
    }

    bool remove_card(const std::string& card) override {
        return transaction(
            true, [&](Tx& tx) { return tx.exec("DELETE FROM cards WHERE card = ?", {card}).changes > 0; });
    }

    int64_t begin_sync_run(const std::string& owner, bool checkOnly) override {
        return transaction(true, [&](Tx& tx) {
            const auto rows = tx.rows(
                "INSERT INTO sync_runs (started, owner, check_only) VALUES ({now_ms}, ?, ?) RETURNING id",
                {owner, checkOnly});
            return rows.at(0).at(0).integer();
        });
    }

    void store_sync_result(int64_t run, const SyncResult& result) override {
        transaction(true, [&](Tx& tx) {
            // A result stored again for the same run replaces the one before.
            tx.exec("DELETE FROM sync_drift WHERE run = ? AND controller = ?", {run, result.controller});
            tx.exec("DELETE FROM sync_results WHERE run = ? AND controller = ?", {run, result.controller});
            tx.exec(
                "INSERT INTO sync_results (run, controller, status, cards, message) VALUES (?, ?, ?, ?, ?)",
                {run, result.controller, status_name(result.status), result.cards, result.message});
            int seq = 0;
            for (const Drift& drift : result.drift) {
                tx.exec(
                    "INSERT INTO sync_drift (run, controller, seq, card, field, database_value, "
                    "controller_value)"
                    " VALUES (?, ?, ?, ?, ?, ?, ?)",
                    {run, result.controller, seq++, drift.card, drift.field, nullable(drift.database),
                     nullable(drift.controller)});
            }
            return 0;
        });
    }

    std::vector<SyncResult> sync_results(int64_t run) override {
        return transaction(false, [&](Tx& tx) {
            std::vector<SyncResult> out;
            std::map<std::string, size_t> index;
            for (const Row& row : tx.rows(
                     "SELECT controller, status, cards, message FROM sync_results WHERE run = ? ORDER BY id",
                     {run})) {
                SyncResult result;
                result.controller = row.at(0).text();
                result.status = status_from_name(row.at(1).text());
                result.cards = static_cast<int>(row.at(2).integer());
                result.message = row.at(3).text();
                index[result.controller] = out.size();
                out.push_back(std::move(result));
            }
            for (const Row& row :
                 tx.rows("SELECT controller, card, field, database_value, controller_value FROM sync_drift"
                         " WHERE run = ? ORDER BY controller, seq",
                         {run})) {
                auto found = index.find(row.at(0).text());
                if (found == index.end()) continue;
                out[found->second].drift.push_back(Drift{row.at(1).text(), row.at(2).text(),
                                                         optional_text(row.at(3)), optional_text(row.at(4))});
            }
            return out;
        });
    }

    ImportCounts import_records(const std::vector<IncomingRecord>& records) override {
        std::set<std::string> controllers;
        std::map<std::string, const Photo*> photos;
        for (const IncomingRecord& record : records) {
            controllers.insert(record.controller);
            if (record.photo) photos.emplace(record.photo->sha256, &*record.photo);
        }
        return transaction(true, [&](Tx& tx) {
            // One import at a time per controller (in name order: no deadlock).
            if (!tx.dialect().keyLock.empty()) {
                for (const std::string& name : controllers)
                    tx.exec(tx.dialect().keyLock, {"records " + name});
            }
            ImportCounts counts;
            std::vector<Event> fresh;  // the events of the records new to the store
            // The photos first, each once, in hash order: imports that share
            // photos wait for each other instead of deadlocking. Each is
            // locked against retention's delete until the records that name
            // it are committed; one that retention deleted after the insert
            // found it there is stored again.
            for (const auto& entry : photos) {
                const Photo& photo = *entry.second;
                do {
                    counts.photos += static_cast<int>(
                        tx.exec("INSERT INTO photos (sha256, bytes, size, whole) VALUES (?, ?, ?, ?)"
                                " ON CONFLICT (sha256) DO NOTHING",
                                {photo.sha256, photo.bytes, static_cast<int64_t>(photo.bytes.size()),
                                 photo.whole})
                            .changes);
                } while (!tx.any("SELECT 1 FROM photos WHERE sha256 = ?{for_key_share}", {photo.sha256}));
            }
            for (const IncomingRecord& r : records) {
                if (r.photo) {
                    const Photo& photo = *r.photo;
                    if (tx.any("SELECT 1 FROM records WHERE controller = ? AND card = ? AND time = ?"
                               " AND photo_sha256 = ?",
                               {r.controller, r.card, r.time, photo.sha256})) {
                        continue;  // stored already
                    }
                    // Stored before without its photo: the photo joins it.
                    if (tx.exec("UPDATE records SET photo_sha256 = ? WHERE controller = ? AND card = ?"
                                " AND time = ? AND photo_sha256 = ''",
                                {photo.sha256, r.controller, r.card, r.time})
                            .changes > 0) {
                        continue;
                    }
                    if (tx.exec("INSERT INTO records (controller, card, time, kind, photo_sha256, archived)"
                                " VALUES (?, ?, ?, ?, ?, {now_ms})"
                                " ON CONFLICT (controller, card, time, photo_sha256) DO NOTHING",
                                {r.controller, r.card, r.time, r.kind, photo.sha256})
                            .changes > 0) {
                        fresh.push_back(record_event(r));
                    }
                } else {
                    // Stored already, with its photo or without.
                    if (tx.any("SELECT 1 FROM records WHERE controller = ? AND card = ? AND time = ?",
                               {r.controller, r.card, r.time})) {
                        continue;
                    }
                    if (tx.exec("INSERT INTO records (controller, card, time, kind, photo_sha256, archived)"
                                " VALUES (?, ?, ?, ?, '', {now_ms})"
                                " ON CONFLICT (controller, card, time, photo_sha256) DO NOTHING",
                                {r.controller, r.card, r.time, r.kind})
                            .changes > 0) {
                        fresh.push_back(record_event(r));
                    }
                }
            }
            // A photo that joins a record told before makes no event: each
            // record is told once, and its photo is found through it.
            counts.records = static_cast<int>(fresh.size());
            insert_events(tx, fresh);
            return counts;
        });
    }

    std::vector<StoredRecord> records(const RecordQuery& query) override {
        return transaction(false, [&](Tx& tx) {
            std::vector<Value> params;
            // The filter's values before the page's.
            std::string sql =
                "SELECT r.controller, r.card, r.time, r.kind, r.photo_sha256, p.size, p.whole"
                " FROM records r LEFT JOIN photos p ON p.sha256 = r.photo_sha256" +
                record_filter(query, params) + " ORDER BY r.time DESC, r.id DESC";
            sql += page_clause(query.offset, query.limit, params);
            std::vector<StoredRecord> out;
            for (const Row& row : tx.rows(sql, params)) {
                StoredRecord record;
                record.controller = row.at(0).text();
                record.card = row.at(1).text();
                record.time = row.at(2).text();
                record.kind = static_cast<int>(row.at(3).integer());
                if (!row.at(4).text().empty() && !row.at(5).is_null()) {
                    record.photo = PhotoInfo{row.at(4).text(), row.at(5).integer(), row.at(6).integer() != 0};
                }
                out.push_back(std::move(record));
            }
            return out;
        });
    }

    int64_t count_records(const RecordQuery& query) override {
        return transaction(false, [&](Tx& tx) {
            std::vector<Value> params;
            const std::string sql = "SELECT count(*) FROM records r" + record_filter(query, params);
            return tx.rows(sql, params).at(0).at(0).integer();
        });
    }

    std::optional<Photo> photo(const std::string& sha256) override {
        return transaction(false, [&](Tx& tx) -> std::optional<Photo> {
            const auto rows = tx.rows("SELECT sha256, bytes, whole FROM photos WHERE sha256 = ?", {sha256});
            if (rows.empty()) return std::nullopt;
            return Photo{rows[0].at(0).text(), rows[0].at(1).blob(), rows[0].at(2).integer() != 0};
        });
    }

    bool take_lease(const std::string& controller, const std::string& owner, int seconds) override {
        return transaction(true, [&](Tx& tx) {
            // Taken when free or expired, renewed when the owner holds it;
            // otherwise the conflict updates nothing.
            return tx.exec(
                         "INSERT INTO leases (controller, owner, expires) VALUES (?, ?, {now_ms} + ?)"
                         " ON CONFLICT (controller) DO UPDATE SET owner = excluded.owner,"
                         " expires = excluded.expires"
                         " WHERE leases.expires <= {now_ms} OR leases.owner = excluded.owner",
                         {controller, owner, int64_t{seconds} * 1000})
                       .changes > 0;
        });
    }

    void release_lease(const std::string& controller, const std::string& owner) override {
        transaction(true, [&](Tx& tx) {
            tx.exec("DELETE FROM leases WHERE controller = ? AND owner = ?", {controller, owner});
            return 0;
        });
    }

    std::optional<std::string> lease_holder(const std::string& controller) override {
        return transaction(false, [&](Tx& tx) -> std::optional<std::string> {
            const auto rows =
                tx.rows("SELECT owner FROM leases WHERE controller = ? AND expires > {now_ms}", {controller});
            if (rows.empty()) return std::nullopt;
            return rows.front().at(0).text();
        });
    }

    Page<Card> cards_page(const std::string& search, int offset, int limit) override {
        return transaction(false, [&](Tx& tx) {
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

    Page<SyncRunInfo> sync_runs(int offset, int limit) override {
        return transaction(false, [&](Tx& tx) {
            Page<SyncRunInfo> page;
            page.total = tx.rows("SELECT count(*) FROM sync_runs").at(0).at(0).integer();
            std::vector<Value> params;
            const std::string sql =
                "SELECT r.id, r.started, r.owner, r.check_only,"
                " (SELECT count(*) FROM sync_results s WHERE s.run = r.id),"
                " (SELECT count(*) FROM sync_drift d WHERE d.run = r.id),"
                " (SELECT count(*) FROM sync_results s WHERE s.run = r.id AND s.status IN (?, ?))"
                " FROM sync_runs r ORDER BY r.id DESC";
            params = {status_name(SyncStatus::Unreachable), status_name(SyncStatus::Busy)};
            for (const Row& row : tx.rows(sql + page_clause(offset, limit, params), params)) {
                SyncRunInfo run;
                run.id = row.at(0).integer();
                run.started = row.at(1).integer();
                run.owner = row.at(2).text();
                run.checkOnly = row.at(3).integer() != 0;
                run.controllers = static_cast<int>(row.at(4).integer());
                run.drift = static_cast<int>(row.at(5).integer());
                run.failed = static_cast<int>(row.at(6).integer());
                page.items.push_back(std::move(run));
            }
            return page;
        });
    }

    int64_t begin_archive_run(const std::string& owner) override {
        return transaction(true, [&](Tx& tx) {
            return tx
                .rows("INSERT INTO archive_runs (started, owner) VALUES ({now_ms}, ?) RETURNING id", {owner})
                .at(0)
                .at(0)
                .integer();
        });
    }

    void store_archive_result(int64_t run, const ArchiveResult& result) override {
        transaction(true, [&](Tx& tx) {
            // A result stored again for the same run replaces the one before.
            tx.exec("DELETE FROM archive_results WHERE run = ? AND controller = ?", {run, result.controller});
            tx.exec(
                "INSERT INTO archive_results (run, controller, status, records, photos, message)"
                " VALUES (?, ?, ?, ?, ?, ?)",
                {run, result.controller, status_name(result.status), result.records, result.photos,
                 result.message});
            return 0;
        });
    }

    std::vector<ArchiveResult> archive_results(int64_t run) override {
        return transaction(false, [&](Tx& tx) {
            std::vector<ArchiveResult> out;
            for (const Row& row :
                 tx.rows("SELECT controller, status, records, photos, message FROM archive_results"
                         " WHERE run = ? ORDER BY id",
                         {run})) {
                ArchiveResult result;
                result.controller = row.at(0).text();
                result.status = archive_status_from_name(row.at(1).text());
                result.records = static_cast<int>(row.at(2).integer());
                result.photos = static_cast<int>(row.at(3).integer());
                result.message = row.at(4).text();
                out.push_back(std::move(result));
            }
            return out;
        });
    }

    Page<ArchiveRunInfo> archive_runs(int offset, int limit) override {
        return transaction(false, [&](Tx& tx) {
            Page<ArchiveRunInfo> page;
            page.total = tx.rows("SELECT count(*) FROM archive_runs").at(0).at(0).integer();
            std::vector<Value> params;
            const std::string sql =
                "SELECT r.id, r.started, r.owner, count(a.id), CAST(COALESCE(sum(a.records), 0) AS BIGINT),"
                " CAST(COALESCE(sum(a.photos), 0) AS BIGINT)"
                " FROM archive_runs r LEFT JOIN archive_results a ON a.run = r.id"
                " GROUP BY r.id, r.started, r.owner ORDER BY r.id DESC";
            for (const Row& row : tx.rows(sql + page_clause(offset, limit, params), params)) {
                ArchiveRunInfo run;
                run.id = row.at(0).integer();
                run.started = row.at(1).integer();
                run.owner = row.at(2).text();
                run.controllers = static_cast<int>(row.at(3).integer());
                run.records = static_cast<int>(row.at(4).integer());
                run.photos = static_cast<int>(row.at(5).integer());
                page.items.push_back(std::move(run));
            }
            return page;
        });
    }

    std::vector<ControllerSummary> controller_summaries() override {
        return transaction(false, [](Tx& tx) {
            std::vector<ControllerSummary> out;
            // The latest result of each is the one of its highest run.
            const std::string sql =
                "SELECT c.name, sr.started, s.status,"
                " (SELECT count(*) FROM sync_drift d WHERE d.run = s.run AND d.controller = s.controller),"
                " ar.started, a.status, a.records"
                " FROM controllers c"
                " LEFT JOIN sync_results s ON s.controller = c.name"
                "  AND s.run = (SELECT max(run) FROM sync_results WHERE controller = c.name)"
                " LEFT JOIN sync_runs sr ON sr.id = s.run"
                " LEFT JOIN archive_results a ON a.controller = c.name"
                "  AND a.run = (SELECT max(run) FROM archive_results WHERE controller = c.name)"
                " LEFT JOIN archive_runs ar ON ar.id = a.run"
                " ORDER BY c.name";
            for (const Row& row : tx.rows(sql)) {
                ControllerSummary summary;
                summary.controller = row.at(0).text();
                if (!row.at(2).is_null()) {
                    summary.lastSync = row.at(1).integer();
                    summary.syncStatus = row.at(2).text();
                    summary.drift = static_cast<int>(row.at(3).integer());
                }
                if (!row.at(5).is_null()) {
                    summary.lastArchive = row.at(4).integer();
                    summary.archiveStatus = row.at(5).text();
                    summary.archivedRecords = static_cast<int>(row.at(6).integer());
                }
                out.push_back(std::move(summary));
            }
            return out;
        });
    }

    std::vector<Event> append_events(std::vector<Event> events) override {
        return transaction(true, [&](Tx& tx) {
            insert_events(tx, events);
            return events;
        });
    }

    std::vector<Event> events(int64_t afterId, const std::string& controller, const std::string& kind,
                              int limit) override {
        return transaction(false, [&](Tx& tx) {
            std::string sql = "SELECT id, at, controller, kind, data FROM events WHERE id > ?";
            std::vector<Value> params = {afterId};
            if (!controller.empty()) {
                sql += " AND controller = ?";
                params.emplace_back(controller);
            }
            if (!kind.empty()) {
                sql += " AND kind = ?";
                params.emplace_back(kind);
            }
            sql += " ORDER BY id" + page_clause(0, limit, params);
            std::vector<Event> out;
            for (const Row& row : tx.rows(sql, params)) {
                out.push_back(Event{row.at(0).integer(), row.at(1).integer(), row.at(2).text(),
                                    row.at(3).text(), row.at(4).text()});
            }
            return out;
        });
    }

    int64_t last_event_id() override {
        return transaction(false, [](Tx& tx) {
            const Value last = tx.rows("SELECT max(id) FROM events").at(0).at(0);
            return last.is_null() ? int64_t{0} : last.integer();
        });
    }

    std::vector<OutboxMessage> outbox_pending(int limit) override {
        return transaction(false, [&](Tx& tx) {
            std::vector<Value> params;
            std::vector<OutboxMessage> out;
            for (const Row& row : tx.rows(
                     "SELECT id, topic, payload, retained, correlation FROM outbox WHERE published IS NULL"
                     " ORDER BY id" +
                         page_clause(0, limit, params),
                     params)) {
                out.push_back(OutboxMessage{row.at(0).integer(), row.at(1).text(), row.at(2).text(),
                                            row.at(3).integer() != 0, text_of_blob(row.at(4))});
            }
            return out;
        });
    }

    void mark_published(int64_t outboxId) override {
        transaction(true, [&](Tx& tx) {
            tx.exec("UPDATE outbox SET published = {now_ms} WHERE id = ? AND published IS NULL", {outboxId});
            return 0;
        });
    }

    int64_t outbox_depth() override {
        return transaction(false, [](Tx& tx) {
            return tx.rows("SELECT count(*) FROM outbox WHERE published IS NULL").at(0).at(0).integer();
        });
    }

    CommandStored store_command(const HeardCommand& c, int64_t samePublishMs) override {
        return transaction(true, [&](Tx& tx) {
            // The publishes of one id, one at a time: every instance
            // subscribed hears each publish.
            if (!tx.dialect().keyLock.empty()) tx.exec(tx.dialect().keyLock, {"command " + c.id});
            if (tx.any("SELECT 1 FROM commands WHERE id = ? AND fingerprint = ?"
                       " AND received >= {now_ms} - ? - ?",
                       {c.id, c.fingerprint, c.ageMs, samePublishMs})) {
                return CommandStored::Copy;
            }
            const Row last = tx.rows("SELECT max(copy), min(copy) FROM commands WHERE id = ?", {c.id}).at(0);
            const bool seen = !last.at(1).is_null() && last.at(1).integer() == 0;
            CommandOutcome outcome;
            if (!c.refusal.empty()) {
                outcome = {"refused", c.refusal};
            } else if (seen) {
                outcome = {"refused", "the id " + c.id + " was seen before"};
            }
            const bool waiting = outcome.result == "ok";
            const int64_t copy =
                waiting ? 0 : std::max<int64_t>(1, last.at(0).is_null() ? 1 : last.at(0).integer() + 1);
            tx.exec(
                "INSERT INTO commands (id, copy, fingerprint, controller, verb, door, answer_topic, "
                "correlation,"
                " received, state, result, error) VALUES (?, ?, ?, ?, ?, ?, ?, ?, {now_ms} - ?, ?, ?, ?)",
                {c.id, copy, c.fingerprint, c.controller, c.verb, c.door, c.answerTopic,
                 blob_of(c.correlation), c.ageMs, waiting ? "waiting" : "done", waiting ? "" : outcome.result,
                 outcome.error});
            if (waiting) return CommandStored::Waiting;
            write_answer(tx, c.id, c.controller, c.verb, c.answerTopic, c.correlation, outcome);
            return CommandStored::Answered;
        });
    }

    std::vector<std::string> command_controllers(const std::string& owner) override {
        return transaction(false, [&](Tx& tx) {
            std::vector<std::string> out;
            for (const Row& row :
                 tx.rows("SELECT DISTINCT c.controller FROM commands c"
                         " JOIN leases l ON l.controller = c.controller"
                         " WHERE c.state = 'waiting' AND l.owner = ? AND l.expires > {now_ms}"
                         " ORDER BY c.controller",
                         {owner})) {
                out.push_back(row.at(0).text());
            }
            return out;
        });
    }

    std::optional<ClaimedCommand> claim_command(const std::string& controller,
                                                const std::string& owner) override {
        return transaction(true, [&](Tx& tx) -> std::optional<ClaimedCommand> {
            const auto rows = tx.rows(
                "SELECT id, verb, door, {now_ms} - received FROM commands"
                " WHERE state = 'waiting' AND controller = ? ORDER BY seq LIMIT 1",
                {controller});
            if (rows.empty()) return std::nullopt;
            const Row& row = rows.front();
            // Taken by one owner only, and only while it holds the lease.
            const int64_t claimed =
                tx.exec(
                      "UPDATE commands SET state = 'running', runner = ?, claimed = {now_ms}"
                      " WHERE id = ? AND copy = 0 AND state = 'waiting' AND EXISTS (SELECT 1 FROM leases l"
                      " WHERE l.controller = ? AND l.owner = ? AND l.expires > {now_ms})",
                      {owner, row.at(0).text(), controller, owner})
                    .changes;
            if (claimed == 0) return std::nullopt;
            return ClaimedCommand{row.at(0).text(), controller, row.at(1).text(),
                                  static_cast<int>(row.at(2).integer()), row.at(3).integer()};
        });
    }

    bool answer_command(const std::string& id, const std::string& runner,
                        const CommandOutcome& outcome) override {
        return transaction(true, [&](Tx& tx) {
            const auto rows = tx.rows(
                "UPDATE commands SET state = 'done', result = ?, error = ?"
                " WHERE id = ? AND copy = 0 AND state = ? AND runner = ?"
                " RETURNING controller, verb, answer_topic, correlation",
                {outcome.result, outcome.error, id, runner.empty() ? "waiting" : "running", runner});
            if (rows.empty()) return false;
            const Row& row = rows.front();
            write_answer(tx, id, row.at(0).text(), row.at(1).text(), row.at(2).text(),
                         text_of_blob(row.at(3)), outcome);
            return true;
        });
    }

    std::vector<StrandedCommand> stranded_commands(int64_t waitingMs) override {
        return transaction(false, [&](Tx& tx) {
            std::vector<StrandedCommand> out;
            for (const Row& row : tx.rows(
                     "SELECT c.id, c.controller, c.runner, {now_ms} - c.received FROM commands c WHERE"
                     " (c.state = 'waiting' AND c.received < {now_ms} - ? AND NOT EXISTS (SELECT 1 FROM "
                     "leases l"
                     "  WHERE l.controller = c.controller AND l.expires > {now_ms}))"
                     " OR (c.state = 'running' AND NOT EXISTS (SELECT 1 FROM leases l"
                     "  WHERE l.controller = c.controller AND l.owner = c.runner AND l.expires > {now_ms}))"
                     " ORDER BY c.seq",
                     {waitingMs})) {
                out.push_back(StrandedCommand{row.at(0).text(), row.at(1).text(), row.at(2).text(),
                                              row.at(3).integer()});
            }
            return out;
        });
    }

    void forget_commands(int64_t olderMs) override {
        transaction(true, [&](Tx& tx) {
            tx.exec("DELETE FROM commands WHERE state = 'done' AND received < {now_ms} - ?", {olderMs});
            return 0;
        });
    }

    void add_token(const TokenInfo& token, const std::string& hash) override {
        transaction(true, [&](Tx& tx) {
            const std::string taken = "a token named " + token.name + " exists already";
            if (tx.any("SELECT 1 FROM tokens WHERE name = ?", {token.name})) throw Refused(taken);
            // No creation time given: the database's clock.
            const std::optional<int64_t> created =
                token.created != 0 ? std::optional<int64_t>(token.created) : std::nullopt;
            try {
                tx.exec(
                    "INSERT INTO tokens (name, role, hash, created, expires)"
                    " VALUES (?, ?, ?, COALESCE(?, {now_ms}), ?)",
                    {token.name, role_name(token.role), hash, created, token.expires});
            } catch (const DatabaseError& error) {
                // Another process added it in between.
                if (error.kind() != DatabaseError::Kind::Unique) throw;
                throw Refused(taken);
            }
            return 0;
        });
    }

    std::vector<TokenInfo> tokens() override {
        return transaction(false, [](Tx& tx) {
            std::vector<TokenInfo> out;
            for (const Row& row : tx.rows(kSelectToken + std::string(" ORDER BY name")))
                out.push_back(token_of(row));
            return out;
        });
    }

    bool revoke_token(const std::string& name) override {
        return transaction(
            true, [&](Tx& tx) { return tx.exec("DELETE FROM tokens WHERE name = ?", {name}).changes > 0; });
    }

    std::optional<TokenInfo> token_by_hash(const std::string& hash) override {
        return transaction(false, [&](Tx& tx) -> std::optional<TokenInfo> {
            const auto rows =
                tx.rows(kSelectToken + std::string(" WHERE hash = ?"
                                                   " AND (expires IS NULL OR expires > {now_ms})"),
                        {hash});
            if (rows.empty()) return std::nullopt;
            return token_of(rows.front());
        });
    }

    void audit(const AuditEntry& entry) override {
        transaction(true, [&](Tx& tx) {
            insert_audit(tx, entry);
            return 0;
        });
    }

    Page<AuditEntry> audit_entries(int offset, int limit) override {
        return transaction(false, [&](Tx& tx) {
            Page<AuditEntry> page;
            page.total = tx.rows("SELECT count(*) FROM audit").at(0).at(0).integer();
            std::vector<Value> params;
            for (const Row& row : tx.rows("SELECT id, time, who, address, action, target, result, detail"
                                          " FROM audit ORDER BY id DESC" +
                                              page_clause(offset, limit, params),
                                          params)) {
                page.items.push_back(AuditEntry{row.at(0).integer(), row.at(1).integer(), row.at(2).text(),
                                                row.at(3).text(), row.at(4).text(), row.at(5).text(),
                                                row.at(6).text(), row.at(7).text()});
            }
            return page;
        });
    }

    Removed remove_older_than(int64_t beforeMs) override {
        return transaction(true, [&](Tx& tx) {
            Removed removed;
            removed.records = tx.exec("DELETE FROM records WHERE archived < ?", {beforeMs}).changes;
            removed.events = tx.exec("DELETE FROM events WHERE at < ?", {beforeMs}).changes;
            removed.audit = tx.exec("DELETE FROM audit WHERE time < ?", {beforeMs}).changes;
            removed.outbox =
                tx.exec("DELETE FROM outbox WHERE published IS NOT NULL AND created < ?", {beforeMs}).changes;
            removed.photos = remove_unnamed_photos(tx);
            return removed;
        });
    }

    void backup(const std::string& file) override {
        Pool::Lent connection(pool_, pool_.take());
        connection->backup_to(file);
    }

    int64_t now_ms() override {
        return transaction(false, [](Tx& tx) { return tx.rows("SELECT {now_ms}").at(0).at(0).integer(); });
    }

    void put_photo(const Photo& photo) override {
        transaction(true, [&](Tx& tx) {
            tx.exec(
                "INSERT INTO photos (sha256, bytes, size, whole, pushed) VALUES (?, ?, ?, ?, {now_ms})"
                " ON CONFLICT (sha256) DO NOTHING",
                {photo.sha256, photo.bytes, static_cast<int64_t>(photo.bytes.size()), photo.whole});
            return 0;
        });
    }

private:
    static constexpr const char* kSelectController =
        "SELECT name, address, mac, number, long_records, photos FROM controllers";

    static constexpr const char* kSelectToken = "SELECT name, role, created, expires FROM tokens";

    static TokenInfo token_of(const Row& row) {
        TokenInfo token;
        token.name = row.at(0).text();
        const auto role = role_from_name(row.at(1).text());
        if (!role) throw StoreError("the database holds an unknown role \"" + row.at(1).text() + "\"");
        token.role = *role;
        token.created = row.at(2).integer();
        if (!row.at(3).is_null()) token.expires = row.at(3).integer();
        return token;
    }

    // The WHERE clause of a record query (records as r), its values
    // appended to params.
    static std::string record_filter(const RecordQuery& query, std::vector<Value>& params) {
        std::vector<std::string> where;
        auto add = [&](const char* condition, const std::string& value) {
            if (value.empty()) return;
            where.emplace_back(condition);
            params.emplace_back(value);
        };
        add("r.controller = ?", query.controller);
        add("r.card = ?", query.card);
        add("r.time >= ?", query.since);
        add("r.time < ?", query.until);
        std::string sql;
        for (size_t i = 0; i < where.size(); ++i) sql += (i == 0 ? " WHERE " : " AND ") + where[i];
        return sql;
    }

    // LIMIT and OFFSET (both databases take them in this order), their
    // values appended to params; a limit of 0 or less: none.
    static std::string page_clause(int offset, int limit, std::vector<Value>& params) {
        params.emplace_back(limit > 0 ? int64_t{limit} : std::numeric_limits<int64_t>::max());
        params.emplace_back(int64_t{std::max(offset, 0)});
        return " LIMIT ? OFFSET ?";
    }

    // The text with LIKE's wildcards and the escape character '!' escaped.
    static std::string like_escaped(const std::string& text) {
        std::string out;
        for (const char c : text) {
            if (c == '!' || c == '%' || c == '_') out += '!';
            out += c;
        }
        return out;
    }

    static void insert_audit(Tx& tx, const AuditEntry& entry) {
        tx.exec(
            "INSERT INTO audit (time, who, address, action, target, result, detail)"
            " VALUES ({now_ms}, ?, ?, ?, ?, ?, ?)",
            {entry.who, entry.address, entry.action, entry.target, entry.result, entry.detail});
    }

    // A command's audit entry and, when it has somewhere to go, its answer
    // in the outbox.
    static void write_answer(Tx& tx, const std::string& id, const std::string& controller,
                             const std::string& verb, const std::string& answerTopic,
                             const std::optional<std::string>& correlation, const CommandOutcome& outcome) {
        insert_audit(tx, command_audit(id, controller, verb, outcome));
        if (answerTopic.empty()) return;
        tx.exec(
            "INSERT INTO outbox (created, topic, payload, retained, correlation) VALUES ({now_ms}, ?, ?, 0, "
            "?)",
            {answerTopic, command_answer(id, outcome.result, outcome.error, outcome.run),
             blob_of(correlation)});
    }

    static Value blob_of(const std::optional<std::string>& text) {
        if (!text) return Value();
        return Value(Blob(text->begin(), text->end()));
    }

    static std::optional<std::string> text_of_blob(const Value& value) {
        if (value.is_null()) return std::nullopt;
        const Blob& bytes = value.blob();
        return std::string(bytes.begin(), bytes.end());
    }

    // Removes the photos that neither a record nor an event names; a pushed
    // one is spared a while, for its event to come. An import links its
    // records to a photo under a FOR KEY SHARE lock of it, which the
    // candidates' FOR UPDATE lock waits for: the delete, a later statement,
    // then sees the records such an import committed meanwhile and spares
    // their photo (a single DELETE would not check again).
    static int64_t remove_unnamed_photos(Tx& tx) {
        static const std::string kUnnamed =
            " AND NOT EXISTS (SELECT 1 FROM records r WHERE r.photo_sha256 = photos.sha256)"
            " AND NOT EXISTS (SELECT 1 FROM events e WHERE e.photo_sha256 = photos.sha256)";
        std::vector<Value> candidates;
        for (const Row& row : tx.rows("SELECT sha256 FROM photos WHERE pushed < {now_ms} - ?" + kUnnamed +
                                          " ORDER BY sha256{for_update}",
                                      {kPushedPhotoGraceMs})) {
            candidates.push_back(row.at(0));
        }
        constexpr size_t kBatch = 500;
        int64_t removed = 0;
        for (size_t first = 0; first < candidates.size(); first += kBatch) {
            const std::vector<Value> batch(candidates.begin() + static_cast<std::ptrdiff_t>(first),
                                           candidates.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                    first + kBatch, candidates.size())));
            std::string sql = "DELETE FROM photos WHERE sha256 IN (?";
            for (size_t i = 1; i < batch.size(); ++i) sql += ", ?";
            sql += ")";
            sql += kUnnamed;
            removed += tx.exec(sql, batch).changes;
        }
        return removed;
    }

    // Stores the events and their outbox messages; sets their ids and times.
    static void insert_events(Tx& tx, std::vector<Event>& events) {
        if (events.empty()) return;
        // One writer of events at a time, so that their ids ascend in the
        // order they commit (a reader after id n misses none).
        if (!tx.dialect().keyLock.empty()) tx.exec(tx.dialect().keyLock, {"@events"});
        for (Event& event : events) {
            const Row row =
                tx.rows(
                      "INSERT INTO events (at, controller, kind, data, photo_sha256)"
                      " VALUES ({now_ms}, ?, ?, ?, ?) RETURNING id, at",
                      {event.controller, event.kind, event.data, nullable(photo_named_by(event.data))})
                    .at(0);
            event.id = row.at(0).integer();
            event.at = row.at(1).integer();
            tx.exec("INSERT INTO outbox (created, topic, payload, retained) VALUES (?, ?, ?, ?)",
                    {event.at, event_topic(event), event_json(event), event_retained(event)});
        }
    }

    static Controller controller_of(const Row& row) {
        Controller c;
        c.name = row.at(0).text();
        c.address = row.at(1).text();
        c.mac = row.at(2).text();
        c.number = static_cast<int>(row.at(3).integer());
        c.longRecords = row.at(4).integer() != 0;
        c.photos = row.at(5).integer() != 0;
        return c;
    }

    static std::string select_cards() {
        std::string sql = "SELECT card, serial, password, user_style, open_style";
        for (int day = kFirstDayColumn; day < kFirstDayColumn + kDays; ++day)
            sql += std::string(", ") + kCardColumns[day];
        return sql + ", extra_cards, controllers FROM cards";
    }

    static Card card_of(const Row& row) {
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

    static int schema_version(Tx& tx) {
        const auto rows = tx.rows("SELECT max(version) FROM schema_version");
        if (rows.empty() || rows.front().at(0).is_null()) return 0;
        return static_cast<int>(rows.front().at(0).integer());
    }

    static std::string newer_message(int version) {
        return "the database's schema version " + std::to_string(version) +
               " is newer than this program's (" + std::to_string(kSchemaVersion) + ")";
    }

    // Runs work(tx) as one transaction on a connection of the pool: commits
    // what it did, or rolls all of it back and throws. A transaction the
    // database ended for a deadlock is tried again, and so is one whose
    // connection turned out lost before it began (the server restarted):
    // then the other idle connections are dropped too and a new one made.
    // One whose server did not answer in time fails at once (its connection
    // is closed), wherever it was.
    template <typename Work>
    auto transaction(bool write, Work&& work) -> decltype(work(std::declval<Tx&>())) {
        for (int attempt = 1;; ++attempt) {
            Pool::Lent connection(pool_, pool_.take());
            bool begun = false;
            try {
                connection->begin(write);
                begun = true;
                Tx tx(*connection);
                auto result = work(tx);
                connection->commit();
                return result;
            } catch (const Refused&) {
                roll_back(connection);
                throw;
            } catch (const DatabaseError& error) {
                roll_back(connection);
                if (error.kind() == DatabaseError::Kind::Silent) {
                    // Another attempt would wait as long again; so would
                    // those who wait for a connection.
                    pool_.found_silent();
                    throw;
                }
                const bool lost = !begun && !connection->usable();
                if (lost) {
                    connection.discard();
                    pool_.drop_idle();
                }
                const bool again = lost || error.kind() == DatabaseError::Kind::Transient;
                if (!again || attempt >= kAttempts) throw;
            } catch (const StoreError&) {
                roll_back(connection);
                throw;
            } catch (const std::exception& error) {
                roll_back(connection);
                throw StoreError(std::string("database: ") + error.what());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt));
        }
    }

    static void roll_back(Pool::Lent& connection) {
        try {
            connection->rollback();
        } catch (const std::exception&) {
            connection.discard();
        }
    }

    Pool pool_;
};

}  // namespace

Connector connector(const std::string& location) {
    static const std::string kSqlite = "sqlite:";
    if (location.compare(0, kSqlite.size(), kSqlite) == 0) {
        const std::string path = location.substr(kSqlite.size());
        if (path.empty()) throw Refused("the database location sqlite: names no file (sqlite:PATH)");
        auto database = sqlite_database(path);
        return [database] { return connect_sqlite(database); };
    }
    if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0) {
        return [location] { return connect_postgres(location); };
    }
    throw Refused("the database location \"" + redact_location(location) +
                  "\" is neither sqlite:PATH nor a PostgreSQL URI (postgresql://...)");
}

std::unique_ptr<Store> Store::open(const std::string& location) {
    Connector connect = connector(location);
    // The first connection at once: a location that cannot be reached fails here.
    std::unique_ptr<Connection> first = connect();
    return std::make_unique<SqlStore>(std::move(connect), std::move(first));
}

}  // namespace doorlinkd
