// The service's database: one interface, a backend per database (SQLite,
// PostgreSQL). Every method may be called from several threads at once;
// each is one transaction, so a failure leaves nothing half-written.
// Failures of the database throw StoreError; refused input (a duplicate
// name, an unknown controller) throws Refused.
//
// The one implementation (store/sql_store.cpp) keeps a pool of connections
// (at most 16 open at once; further callers wait for one) and writes its
// SQL once for both databases (store/connection.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/card.h"
#include "model/controller.h"
#include "model/errors.h"
#include "model/record.h"
#include "model/sync_result.h"

namespace doorlinkd {

// The schema version this program writes and reads.
constexpr int kSchemaVersion = 1;

class Store {
public:
    virtual ~Store() = default;

    // "sqlite:PATH" or a libpq URI ("postgresql://..." or "postgres://...").
    // Throws Refused for another form, StoreError when it cannot connect.
    static std::unique_ptr<Store> open(const std::string& location);

    // Creates the schema or upgrades it to kSchemaVersion; returns it.
    virtual int initialise() = 0;
    // Throws StoreError unless the schema is at kSchemaVersion, with a
    // message that says to run `doorlinkd init` (or that the database is
    // newer than this program).
    virtual void require_schema() = 0;

    // Controllers, in name order.
    virtual std::vector<Controller> controllers() = 0;
    virtual std::optional<Controller> controller(const std::string& name) = 0;
    // Refused when the name or the number is taken.
    virtual void add_controller(const Controller& controller) = 0;
    // Removes the controller and its name from the cards that name it
    // among others. While cards name only this controller nothing changes
    // and those cards are returned (in card order). Refused when unknown.
    virtual std::vector<std::string> remove_controller(const std::string& name) = 0;

    // Cards, in card order.
    virtual std::vector<Card> cards() = 0;
    virtual std::optional<Card> card(const std::string& card) = 0;
    // Adds or updates the given cards; with replaceAll the given cards
    // become the whole set. The caller has checked them.
    virtual void put_cards(const std::vector<Card>& cards, bool replaceAll) = 0;
    // False when the card was not there.
    virtual bool remove_card(const std::string& card) = 0;

    // A run of sync: its id, then one result per controller.
    virtual int64_t begin_sync_run(const std::string& owner, bool checkOnly) = 0;
    virtual void store_sync_result(int64_t run, const SyncResult& result) = 0;
    // The results stored with a run, in the order they were stored, each
    // with its drift in the order given. Empty for an unknown run.
    virtual std::vector<SyncResult> sync_results(int64_t run) = 0;

    // Stores the records of one retrieval, each once (see IncomingRecord):
    // a record already stored is skipped, and a photo is stored once by its
    // hash. A record stored without a photo takes the photo when it comes
    // again with one, and a record that comes again without its photo is
    // the one stored with it. Counts the records new to the store and the
    // photos new to it (by hash: a photo already stored for another record
    // is not counted again, also when it joins a record stored without one).
    // A record's time must have 14 characters (yyyymmddhhmmss).
    virtual ImportCounts import_records(const std::vector<IncomingRecord>& records) = 0;
    // Newest first.
    virtual std::vector<StoredRecord> records(const RecordQuery& query) = 0;
    virtual std::optional<Photo> photo(const std::string& sha256) = 0;

    // Leases: one owner drives a controller at a time. take_lease takes a
    // free or expired lease, or renews one the owner holds, for `seconds`
    // from the database's clock; false when another owner holds it.
    virtual bool take_lease(const std::string& controller, const std::string& owner, int seconds) = 0;
    virtual void release_lease(const std::string& controller, const std::string& owner) = 0;
    // The owner of a lease that has not expired.
    virtual std::optional<std::string> lease_holder(const std::string& controller) = 0;
};

}  // namespace doorlinkd
