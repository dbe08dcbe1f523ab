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

#include "model/access.h"
#include "model/archive_result.h"
#include "model/card.h"
#include "model/command.h"
#include "model/controller.h"
#include "model/errors.h"
#include "model/event.h"
#include "model/pages.h"
#include "model/record.h"
#include "model/sync_result.h"

namespace doorlinkd {

// The schema version this program writes and reads.
constexpr int kSchemaVersion = 3;

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
    // Refused when the name or the number is taken, or when the number is
    // retired, unless reuseRetiredNumber: then the number is taken and
    // leaves the retired numbers.
    virtual void add_controller(const Controller& controller, bool reuseRetiredNumber) = 0;
    void add_controller(const Controller& controller) { add_controller(controller, false); }
    // Removes the controller and its name from the cards that name it
    // among others, and retires its number. While cards name only this
    // controller nothing changes and those cards are returned (in card
    // order). Refused when unknown.
    virtual std::vector<std::string> remove_controller(const std::string& name) = 0;
    // In number order.
    virtual std::vector<RetiredNumber> retired_numbers() = 0;

    // Cards, in card order.
    virtual std::vector<Card> cards() = 0;
    virtual std::optional<Card> card(const std::string& card) = 0;
    // Adds or updates the given cards; with replaceAll the given cards
    // become the whole set. The caller has checked them.
    virtual void put_cards(const std::vector<Card>& cards, bool replaceAll) = 0;
    // False when the card was not there.
    virtual bool remove_card(const std::string& card) = 0;
    // A page of the cards, in card order, whose card number, serial or
    // controllers contain `search` (empty: all); total counts every match.
    virtual Page<Card> cards_page(const std::string& search, int offset, int limit) = 0;

    // A run of sync: its id, then one result per controller.
    virtual int64_t begin_sync_run(const std::string& owner, bool checkOnly) = 0;
    virtual void store_sync_result(int64_t run, const SyncResult& result) = 0;
    // The results stored with a run, in the order they were stored, each
    // with its drift in the order given. Empty for an unknown run.
    virtual std::vector<SyncResult> sync_results(int64_t run) = 0;
    // Newest first.
    virtual Page<SyncRunInfo> sync_runs(int offset, int limit) = 0;

    // A run of archive, as a run of sync.
    virtual int64_t begin_archive_run(const std::string& owner) = 0;
    virtual void store_archive_result(int64_t run, const ArchiveResult& result) = 0;
    virtual std::vector<ArchiveResult> archive_results(int64_t run) = 0;
    virtual Page<ArchiveRunInfo> archive_runs(int offset, int limit) = 0;
    // Every controller's latest sync and archive result, in name order.
    virtual std::vector<ControllerSummary> controller_summaries() = 0;

    // Stores the records of one retrieval, each once (see IncomingRecord):
    // a record already stored is skipped, and a photo is stored once by its
    // hash. A record stored without a photo takes the photo when it comes
    // again with one, and a record that comes again without its photo is
    // the one stored with it. Counts the records new to the store and the
    // photos new to it (by hash: a photo already stored for another record
    // is not counted again, also when it joins a record stored without one).
    // A record's time must have 14 characters (yyyymmddhhmmss).
    // Every record new to the store becomes a "record" event (and its
    // outbox message) in the same transaction, so each is told once, and
    // is marked archived now by the database's clock (retention goes by
    // that).
    virtual ImportCounts import_records(const std::vector<IncomingRecord>& records) = 0;
    // Newest first.
    virtual std::vector<StoredRecord> records(const RecordQuery& query) = 0;
    // How many records the query matches, its offset and limit aside.
    virtual int64_t count_records(const RecordQuery& query) = 0;
    virtual std::optional<Photo> photo(const std::string& sha256) = 0;
    // Stores a photo that no record names (yet): a pushed one. A photo
    // already stored is left as it is.
    virtual void put_photo(const Photo& photo) = 0;

    // Leases: one owner drives a controller at a time. take_lease takes a
    // free or expired lease, or renews one the owner holds, for `seconds`
    // from the database's clock; false when another owner holds it.
    virtual bool take_lease(const std::string& controller, const std::string& owner, int seconds) = 0;
    virtual void release_lease(const std::string& controller, const std::string& owner) = 0;
    // The owner of a lease that has not expired.
    virtual std::optional<std::string> lease_holder(const std::string& controller) = 0;
    // The leases are keyed by text: besides controller names, "@outbox"
    // is the lease of the instance that publishes the outbox.

    // Events. append_events stores the events and, in the same transaction,
    // an outbox message for each (event_topic, event_json, event_retained);
    // it sets and returns their ids and times.
    virtual std::vector<Event> append_events(std::vector<Event> events) = 0;
    // Events after an id (0: from the first), oldest first; a controller or
    // kind of "" matches any. At most limit.
    virtual std::vector<Event> events(int64_t afterId, const std::string& controller, const std::string& kind,
                                      int limit) = 0;
    virtual int64_t last_event_id() = 0;  // 0 when none

    // The outbox: messages not yet published, oldest first.
    struct OutboxMessage {
        int64_t id = 0;
        std::string topic;
        std::string payload;
        bool retained = false;
        std::optional<std::string> correlation;  // MQTT 5 correlation data (a command's answer)
    };
    virtual std::vector<OutboxMessage> outbox_pending(int limit) = 0;
    virtual void mark_published(int64_t outboxId) = 0;
    virtual int64_t outbox_depth() = 0;  // messages not yet published

    // MQTT commands, shared by the instances (model/command.h). Each one is
    // answered once: its answer (to its answer topic, with its correlation
    // data) goes in the outbox, and its audit entry in the audit log, in the
    // transaction that marks it done.
    //
    // Stores a command heard: Copy (nothing stored) when the same publish
    // was stored already (the same id and fingerprint, heard less than
    // samePublishMs before this one); Answered when it is refused (its
    // refusal, or "the id X was seen before" when the id has a command);
    // Waiting when it is the command of its id, to be run.
    enum class CommandStored { Copy, Answered, Waiting };
    virtual CommandStored store_command(const HeardCommand& command, int64_t samePublishMs) = 0;
    // The controllers that have commands waiting and whose lease owner holds.
    virtual std::vector<std::string> command_controllers(const std::string& owner) = 0;
    // Takes the controller's oldest waiting command up to run, when owner
    // holds the controller's lease: it is then running by owner.
    virtual std::optional<ClaimedCommand> claim_command(const std::string& controller,
                                                        const std::string& owner) = 0;
    // Answers a command running by runner ("": one still waiting) with the
    // outcome; false, and nothing done, when it is no longer so (another
    // instance answered it, or claimed it).
    virtual bool answer_command(const std::string& id, const std::string& runner,
                                const CommandOutcome& outcome) = 0;
    // The commands waiting longer than waitingMs for a controller whose
    // lease nobody holds, and those running by an owner that no longer
    // holds the lease: oldest first.
    virtual std::vector<StrandedCommand> stranded_commands(int64_t waitingMs) = 0;
    // Forgets the commands answered (and their ids) heard more than olderMs ago.
    virtual void forget_commands(int64_t olderMs) = 0;

    // Tokens, stored by the SHA-256 (hex) of their text. Refused when the
    // name is taken.
    virtual void add_token(const TokenInfo& token, const std::string& hash) = 0;
    virtual std::vector<TokenInfo> tokens() = 0;  // in name order
    // Removes it; false when there was none of that name.
    virtual bool revoke_token(const std::string& name) = 0;
    // The token with this hash unless it has expired (the database's clock).
    virtual std::optional<TokenInfo> token_by_hash(const std::string& hash) = 0;

    // The audit log: append sets id and time; entries newest first.
    virtual void audit(const AuditEntry& entry) = 0;
    virtual Page<AuditEntry> audit_entries(int offset, int limit) = 0;

    // Retention: removes records archived before beforeMs (ms since the
    // epoch, the database's clock; never by a record's own time, which is
    // the controller's clock), events, audit entries and published outbox
    // messages older than that, and the photos nothing names any more.
    virtual Removed remove_older_than(int64_t beforeMs) = 0;

    // An online copy of a SQLite database to a new file; Refused for
    // PostgreSQL (pg_dump does that).
    virtual void backup(const std::string& file) = 0;

    // The database's clock, ms since the epoch.
    virtual int64_t now_ms() = 0;
};

}  // namespace doorlinkd
