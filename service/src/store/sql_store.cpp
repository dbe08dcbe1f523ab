// The store whole: every part's SQL over one database, and the schema.
#include <memory>
#include <string>
#include <utility>

#include "store/card_rows.h"
#include "store/database.h"
#include "store/record_stamp.h"
#include "store/schema.h"
#include "store/store.h"
#include "zones/zones.h"

namespace doorlinkd {

namespace {

int schema_version(Tx& tx) {
    const auto rows = tx.rows("SELECT max(version) FROM schema_version");
    if (rows.empty() || rows.front().at(0).is_null()) return 0;
    return static_cast<int>(rows.front().at(0).integer());
}

// The version whose step made the sites.
constexpr int kSitesVersion = 4;
// The version whose step gave records their instants.
constexpr int kInstantsVersion = 5;
// The version whose step made the card rows' controllers rows.
constexpr int kCardControllerRowsVersion = 10;

std::string newer_message(int version) {
    return "the database's schema version " + std::to_string(version) + " is newer than this program's (" +
           std::to_string(kSchemaVersion) + ")";
}

// Made before the parts, which keep a reference to it.
struct OwnDatabase {
    OwnDatabase(Connector connect, std::unique_ptr<Connection> first)
        : database(std::move(connect), std::move(first)) {}
    Database database;
};

// Each part's implementation is the final one of its interface (it
// dominates Store's abstract inheritance of the same virtual base).
class SqlStore final : private OwnDatabase,
                       public Store,
                       public SqlControllers,
                       public SqlRecords,
                       public SqlRuns,
                       public SqlEvents,
                       public SqlAccess,
                       public SqlLeases,
                       public SqlSites,
                       public SqlPolicy,
                       public SqlApplying {
public:
    SqlStore(Connector connect, std::unique_ptr<Connection> first)
        : OwnDatabase(std::move(connect), std::move(first)),
          SqlControllers(database),
          SqlRecords(database),
          SqlRuns(database),
          SqlEvents(database),
          SqlAccess(database),
          SqlLeases(database),
          SqlSites(database),
          SqlPolicy(database),
          SqlApplying(database) {}

    int initialise(const std::string& defaultZone) override {
        require_zone(defaultZone);
        return database.transaction(true, [&](Tx& tx) {
            if (!tx.dialect().schemaLock.empty()) tx.exec(tx.dialect().schemaLock);
            tx.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
            const int version = schema_version(tx);
            if (version > kSchemaVersion) throw StoreError(newer_message(version));
            const auto& steps = upgrade_steps();
            for (int v = version; v < kSchemaVersion; ++v) {
                for (const std::string& statement : steps.at(static_cast<size_t>(v))) tx.exec(statement);
                if (v + 1 == kCardControllerRowsVersion) move_card_controllers_to_rows(tx);
            }
            if (version < kSitesVersion) {
                tx.exec("INSERT INTO sites (name, zone, description) VALUES (?, ?, '')",
                        {kMainSite, defaultZone});
            }
            // After the site main: the records of controllers that are gone are read in its zone.
            if (version < kInstantsVersion) stamp_stored_records(tx);
            if (version != kSchemaVersion) {
                tx.exec("DELETE FROM schema_version");
                tx.exec("INSERT INTO schema_version (version) VALUES (?)", {kSchemaVersion});
            }
            return kSchemaVersion;
        });
    }

    void require_schema() override {
        database.transaction(false, [](Tx& tx) {
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

    void backup(const std::string& file) override { database.backup(file); }

    int64_t now_ms() override {
        return database.transaction(false,
                                    [](Tx& tx) { return tx.rows("SELECT {now_ms}").at(0).at(0).integer(); });
    }
};

}  // namespace

std::unique_ptr<Store> Store::open(const std::string& location) {
    Connector connect = connector(location);
    // The first connection at once: a location that cannot be reached fails here.
    std::unique_ptr<Connection> first = connect();
    return std::make_unique<SqlStore>(std::move(connect), std::move(first));
}

}  // namespace doorlinkd
