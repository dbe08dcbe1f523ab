#include "store/records.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "store/database.h"
#include "store/events.h"
#include "store/record_event.h"
#include "store/record_stamp.h"

namespace doorlinkd {

namespace {

// How long retention spares a pushed photo that nothing names yet: its
// event is stored just after it.
constexpr int64_t kPushedPhotoGraceMs = 60000;

// The WHERE clause of a record query (records as r), its values
// appended to params.
std::string record_filter(const RecordQuery& query, std::vector<Value>& params) {
    std::vector<std::string> where;
    auto add = [&](const char* condition, Value value) {
        where.emplace_back(condition);
        params.push_back(std::move(value));
    };
    if (!query.controller.empty()) add("r.controller = ?", query.controller);
    if (!query.card.empty()) add("r.card = ?", query.card);
    if (query.since.instant) add("r.instant >= ?", *query.since.instant);
    if (query.until.instant) add("r.instant < ?", *query.until.instant);
    // The older form: the record's own local time text, whatever its zone.
    if (!query.since.local.empty()) add("r.time >= ?", query.since.local);
    if (!query.until.local.empty()) add("r.time < ?", query.until.local);
    std::string sql;
    for (size_t i = 0; i < where.size(); ++i) sql += (i == 0 ? " WHERE " : " AND ") + where[i];
    return sql;
}

// Removes the photos that neither a record nor an event names; a pushed
// one is spared a while, for its event to come. An import links its
// records to a photo under a FOR KEY SHARE lock of it, which the
// candidates' FOR UPDATE lock waits for: the delete, a later statement,
// then sees the records such an import committed meanwhile and spares
// their photo (a single DELETE would not check again).
int64_t remove_unnamed_photos(Tx& tx) {
    static const std::string kUnnamed =
        " AND NOT EXISTS (SELECT 1 FROM records r WHERE r.photo_sha256 = photos.sha256)"
        " AND NOT EXISTS (SELECT 1 FROM events e WHERE e.photo_sha256 = photos.sha256)";
    std::vector<Value> candidates;
    for (const Row& row : tx.rows("SELECT sha256 FROM photos WHERE pushed < {now_ms} - ?" + kUnnamed +
                                      " ORDER BY sha256{for_update}",
                                  {kPushedPhotoGraceMs})) {
        candidates.push_back(row.at(0));
    }
    int64_t removed = 0;
    in_batches(candidates, "?", [&](const std::vector<Value>& part, const std::string& placeholders) {
        removed +=
            tx.exec("DELETE FROM photos WHERE sha256 IN (" + placeholders + ")" + kUnnamed, part).changes;
    });
    return removed;
}

}  // namespace

ImportCounts SqlRecords::import_records(const std::vector<IncomingRecord>& records) {
    std::set<std::string> controllers;
    std::map<std::string, const Photo*> photos;
    for (const IncomingRecord& record : records) {
        controllers.insert(record.controller);
        if (record.photo) photos.emplace(record.photo->sha256, &*record.photo);
    }
    return db_.transaction(true, [&](Tx& tx) {
        // One import at a time per controller (in name order: no deadlock).
        if (!tx.dialect().keyLock.empty()) {
            for (const std::string& name : controllers) tx.exec(tx.dialect().keyLock, {"records " + name});
        }
        ImportCounts counts;
        std::vector<Event> fresh;  // the events of the records new to the store
        std::map<std::string, RecordPlace> places;
        for (const std::string& name : controllers) places.emplace(name, record_place(tx, name));
        std::optional<int64_t> now;  // the archived time, for a record whose time is none
        const auto archived = [&] {
            if (!now) now = tx.rows("SELECT {now_ms}").at(0).at(0).integer();
            return *now;
        };
        // Inserts a record with its stamp; one new to the store becomes an event.
        const auto insert = [&](const IncomingRecord& r, const std::string& photoSha256) {
            const RecordStamp stamp = record_stamp(r.time, places.at(r.controller), archived);
            // The person who holds the card now is whose the record is: cards change hands.
            if (tx.exec("INSERT INTO records (controller, card, time, kind, photo_sha256, archived, instant,"
                        " local_kind, site, zone, person) VALUES (?, ?, ?, ?, ?, {now_ms}, ?, ?, ?, ?,"
                        " (SELECT person FROM person_cards WHERE card = ? AND until IS NULL))"
                        " ON CONFLICT (controller, card, time, photo_sha256) DO NOTHING",
                        {r.controller, r.card, r.time, r.kind, photoSha256, stamp.instant, stamp.localKind,
                         stamp.site, stamp.zone, r.card})
                    .changes > 0) {
                fresh.push_back(record_event(r, stamp));
            }
        };
        // The photos first, each once, in hash order: imports that share
        // photos wait for each other instead of deadlocking. Each is
        // locked against retention's delete until the records that name
        // it are committed; one that retention deleted after the insert
        // found it there is stored again.
        for (const auto& entry : photos) {
            const Photo& photo = *entry.second;
            do {
                counts.photos += static_cast<int>(
                    tx.exec(
                          "INSERT INTO photos (sha256, bytes, size, whole) VALUES (?, ?, ?, ?)"
                          " ON CONFLICT (sha256) DO NOTHING",
                          {photo.sha256, photo.bytes, static_cast<int64_t>(photo.bytes.size()), photo.whole})
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
                insert(r, photo.sha256);
            } else {
                // Stored already, with its photo or without.
                if (tx.any("SELECT 1 FROM records WHERE controller = ? AND card = ? AND time = ?",
                           {r.controller, r.card, r.time})) {
                    continue;
                }
                insert(r, "");
            }
        }
        // A photo that joins a record told before makes no event: each
        // record is told once, and its photo is found through it.
        counts.records = static_cast<int>(fresh.size());
        insert_events(tx, fresh);
        return counts;
    });
}

std::vector<StoredRecord> SqlRecords::records(const RecordQuery& query) {
    return db_.transaction(false, [&](Tx& tx) {
        std::vector<Value> params;
        // The filter's values before the page's.
        std::string sql =
            "SELECT r.controller, r.card, r.time, r.kind, r.photo_sha256, p.size, p.whole, r.instant,"
            " r.local_kind, r.site, r.zone, r.person, r.person_erased"
            " FROM records r LEFT JOIN photos p ON p.sha256 = r.photo_sha256" +
            record_filter(query, params) + " ORDER BY r.instant DESC, r.id DESC";
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
            record.stamp =
                RecordStamp{row.at(7).integer(), row.at(8).text(), row.at(9).text(), row.at(10).text()};
            record.person = optional_text(row.at(11));
            record.personErased = row.at(12).integer() != 0;
            out.push_back(std::move(record));
        }
        return out;
    });
}

int64_t SqlRecords::count_records(const RecordQuery& query) {
    return db_.transaction(false, [&](Tx& tx) {
        std::vector<Value> params;
        const std::string sql = "SELECT count(*) FROM records r" + record_filter(query, params);
        return tx.rows(sql, params).at(0).at(0).integer();
    });
}

std::map<std::string, int64_t> SqlRecords::last_record_instants(const std::vector<std::string>& cards) {
    const std::vector<Value> values(cards.begin(), cards.end());
    return db_.transaction(false, [&](Tx& tx) {
        std::map<std::string, int64_t> last;
        // A subquery per card: each finds its newest instant at the end of
        // the card's part of records_card_instant, where one MAX over a
        // GROUP BY would read every record of every card.
        in_batches(values, "(?)", [&](const std::vector<Value>& part, const std::string& placeholders) {
            for (const Row& row :
                 tx.rows("SELECT v.column1, (SELECT MAX(r.instant) FROM records r WHERE r.card = v.column1)"
                         " FROM (VALUES " +
                             placeholders + ") v",
                         part)) {
                if (!row.at(1).is_null()) last[row.at(0).text()] = row.at(1).integer();
            }
        });
        return last;
    });
}

std::optional<Photo> SqlRecords::photo(const std::string& sha256) {
    return db_.transaction(false, [&](Tx& tx) -> std::optional<Photo> {
        const auto rows = tx.rows("SELECT sha256, bytes, whole FROM photos WHERE sha256 = ?", {sha256});
        if (rows.empty()) return std::nullopt;
        return Photo{rows[0].at(0).text(), rows[0].at(1).blob(), rows[0].at(2).integer() != 0};
    });
}

void SqlRecords::put_photo(const Photo& photo) {
    db_.transaction(true, [&](Tx& tx) {
        tx.exec(
            "INSERT INTO photos (sha256, bytes, size, whole, pushed) VALUES (?, ?, ?, ?, {now_ms})"
            " ON CONFLICT (sha256) DO NOTHING",
            {photo.sha256, photo.bytes, static_cast<int64_t>(photo.bytes.size()), photo.whole});
        return 0;
    });
}

Removed SqlRecords::remove_older_than(int64_t beforeMs) {
    return db_.transaction(true, [&](Tx& tx) {
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

}  // namespace doorlinkd
