#include "store/record_stamp.h"

#include <map>
#include <vector>

#include "model/errors.h"
#include "model/site.h"
#include "store/database.h"
#include "zones/instant_text.h"
#include "zones/zones.h"

namespace doorlinkd {

namespace {

constexpr const char* kInvalid = "invalid";

// Rows updated by one statement of the upgrade.
constexpr size_t kStampBatch = 500;

}  // namespace

RecordPlace record_place(Tx& tx, const std::string& controller) {
    const auto rows =
        tx.rows("SELECT c.site, s.zone FROM controllers c JOIN sites s ON s.name = c.site WHERE c.name = ?",
                {controller});
    RecordPlace place;
    if (!rows.empty()) {
        place = RecordPlace{rows[0].at(0).text(), rows[0].at(1).text()};
    } else {
        const auto main = tx.rows("SELECT zone FROM sites WHERE name = ?", {kMainSite});
        place.zone = main.empty() ? "UTC" : main[0].at(0).text();
    }
    // A zone the system's database no longer has (its tzdata changed):
    // UTC, and the record says so.
    if (!zone_problem(place.zone).empty()) place.zone = "UTC";
    return place;
}

RecordStamp record_stamp(const std::string& time, const RecordPlace& place,
                         const std::function<int64_t()>& archivedMs) {
    RecordStamp stamp;
    stamp.site = place.site;
    stamp.zone = place.zone;
    try {
        const ZonedInstant zoned = instant_of(time, place.zone);
        // Its ISO 8601 form must exist too (not so for midnight of the
        // year 0 east of UTC).
        iso_instant(zoned.utcMs);
        stamp.instant = zoned.utcMs;
        stamp.localKind = local_time_kind_name(zoned.kind);
    } catch (const Refused&) {
        // The zone was checked: the text is no date and time.
        stamp.instant = archivedMs();
        stamp.localKind = kInvalid;
    }
    return stamp;
}

void stamp_stored_records(Tx& tx) {
    std::map<std::string, RecordPlace> places;
    int64_t after = -1;
    for (;;) {
        const auto rows =
            tx.rows("SELECT id, controller, time, archived FROM records WHERE id > ? ORDER BY id LIMIT ?",
                    {after, static_cast<int64_t>(kStampBatch)});
        if (rows.empty()) return;
        // One statement for the batch: the rows' new values as a VALUES
        // list (its columns column1, column2, ... in both databases).
        std::string sql =
            "UPDATE records SET instant = v.column2, local_kind = v.column3, site = v.column4,"
            " zone = v.column5 FROM (VALUES ";
        std::vector<Value> params;
        for (const Row& row : rows) {
            const std::string controller = row.at(1).text();
            auto place = places.find(controller);
            if (place == places.end()) place = places.emplace(controller, record_place(tx, controller)).first;
            const int64_t archived = row.at(3).integer();
            const RecordStamp stamp =
                record_stamp(row.at(2).text(), place->second, [archived] { return archived; });
            if (!params.empty()) sql += ", ";
            sql += "(CAST(? AS BIGINT), CAST(? AS BIGINT), ?, ?, ?)";
            params.insert(params.end(),
                          {row.at(0).integer(), stamp.instant, stamp.localKind, stamp.site, stamp.zone});
        }
        sql += ") AS v WHERE records.id = v.column1";
        tx.exec(sql, params);
        after = rows.back().at(0).integer();
    }
}

}  // namespace doorlinkd
