// The service's database: the sum of its parts, each an interface of its
// own over what it keeps (controllers and cards, records and photos, runs,
// events with the outbox and MQTT commands, tokens and audit, leases, sites,
// the policy of people, groups and schedules, what the controllers were sent
// of it and the work handed to serve), and the schema. Every method may be called from several
// threads at once; each is one transaction, so a failure leaves nothing half-written. Failures of the
// database throw StoreError; refused input (a duplicate name, an unknown controller) throws Refused.
//
// Each part's SQL implementation sits beside its interface (store/X.cpp),
// over a shared pool of connections (store/database.h: at most 16 open at
// once; further callers wait for one) and SQL written once for both
// databases (store/connection.h); store/sql_store.cpp joins them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "model/errors.h"
#include "store/access.h"
#include "store/applying.h"
#include "store/controllers.h"
#include "store/events.h"
#include "store/leases.h"
#include "store/policy.h"
#include "store/records.h"
#include "store/runs.h"
#include "store/sites.h"

namespace doorlinkd {

// The schema version this program writes and reads.
constexpr int kSchemaVersion = 10;

class Store : public virtual ControllerStore,
              public virtual RecordStore,
              public virtual RunStore,
              public virtual EventStore,
              public virtual AccessStore,
              public virtual LeaseStore,
              public virtual SiteStore,
              public virtual PolicyStore,
              public virtual ApplyingStore {
public:
    // "sqlite:PATH" or a libpq URI ("postgresql://..." or "postgres://...").
    // Throws Refused for another form, StoreError when it cannot connect.
    static std::unique_ptr<Store> open(const std::string& location);

    // Creates the schema or upgrades it to kSchemaVersion; returns it. A
    // schema made or upgraded to the version of sites gets the site main in
    // defaultZone (Refused unless a zone: before anything is written).
    virtual int initialise(const std::string& defaultZone) = 0;
    int initialise() { return initialise("UTC"); }
    // Throws StoreError unless the schema is at kSchemaVersion, with a
    // message that says to run `doorlinkd init` (or that the database is
    // newer than this program).
    virtual void require_schema() = 0;

    // An online copy of a SQLite database to a new file; Refused for
    // PostgreSQL (pg_dump does that).
    virtual void backup(const std::string& file) = 0;

    // The database's clock, ms since the epoch.
    virtual int64_t now_ms() = 0;
};

}  // namespace doorlinkd
