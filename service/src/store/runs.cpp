#include "store/runs.h"

#include <map>
#include <utility>

#include "store/database.h"

namespace doorlinkd {

namespace {

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

}  // namespace

int64_t SqlRuns::begin_sync_run(const std::string& owner, bool checkOnly) {
    return db_.transaction(true, [&](Tx& tx) {
        const auto rows =
            tx.rows("INSERT INTO sync_runs (started, owner, check_only) VALUES ({now_ms}, ?, ?) RETURNING id",
                    {owner, checkOnly});
        return rows.at(0).at(0).integer();
    });
}

void SqlRuns::store_sync_result(int64_t run, const SyncResult& result) {
    db_.transaction(true, [&](Tx& tx) {
        // A result stored again for the same run replaces the one before.
        tx.exec("DELETE FROM sync_drift WHERE run = ? AND controller = ?", {run, result.controller});
        tx.exec("DELETE FROM sync_results WHERE run = ? AND controller = ?", {run, result.controller});
        tx.exec("INSERT INTO sync_results (run, controller, status, cards, message) VALUES (?, ?, ?, ?, ?)",
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

std::vector<SyncResult> SqlRuns::sync_results(int64_t run) {
    return db_.transaction(false, [&](Tx& tx) {
        std::vector<SyncResult> out;
        std::map<std::string, size_t> index;
        for (const Row& row :
             tx.rows("SELECT controller, status, cards, message FROM sync_results WHERE run = ? ORDER BY id",
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

Page<SyncRunInfo> SqlRuns::sync_runs(int offset, int limit) {
    return db_.transaction(false, [&](Tx& tx) {
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

int64_t SqlRuns::begin_archive_run(const std::string& owner) {
    return db_.transaction(true, [&](Tx& tx) {
        return tx.rows("INSERT INTO archive_runs (started, owner) VALUES ({now_ms}, ?) RETURNING id", {owner})
            .at(0)
            .at(0)
            .integer();
    });
}

void SqlRuns::store_archive_result(int64_t run, const ArchiveResult& result) {
    db_.transaction(true, [&](Tx& tx) {
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

std::vector<ArchiveResult> SqlRuns::archive_results(int64_t run) {
    return db_.transaction(false, [&](Tx& tx) {
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

Page<ArchiveRunInfo> SqlRuns::archive_runs(int offset, int limit) {
    return db_.transaction(false, [&](Tx& tx) {
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

std::vector<ControllerSummary> SqlRuns::controller_summaries() {
    return db_.transaction(false, [](Tx& tx) {
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

}  // namespace doorlinkd
