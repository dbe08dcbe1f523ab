// A store that hands every call to another one: tests derive from it to
// stop, fail or watch single calls of a real database.
#pragma once

#include "store/store.h"

namespace doorlinkd {
namespace test {

class ForwardingStore : public Store {
public:
    explicit ForwardingStore(Store& inner) : inner_(inner) {}

    int initialise() override { return inner_.initialise(); }
    void require_schema() override { inner_.require_schema(); }
    std::vector<Controller> controllers() override { return inner_.controllers(); }
    std::optional<Controller> controller(const std::string& name) override { return inner_.controller(name); }
    void add_controller(const Controller& controller, bool reuseRetiredNumber) override {
        inner_.add_controller(controller, reuseRetiredNumber);
    }
    std::vector<std::string> remove_controller(const std::string& name) override {
        return inner_.remove_controller(name);
    }
    std::vector<RetiredNumber> retired_numbers() override { return inner_.retired_numbers(); }
    std::vector<Card> cards() override { return inner_.cards(); }
    std::optional<Card> card(const std::string& card) override { return inner_.card(card); }
    void put_cards(const std::vector<Card>& cards, bool replaceAll) override {
        inner_.put_cards(cards, replaceAll);
    }
    bool remove_card(const std::string& card) override { return inner_.remove_card(card); }
    Page<Card> cards_page(const std::string& search, int offset, int limit) override {
        return inner_.cards_page(search, offset, limit);
    }
    int64_t begin_sync_run(const std::string& owner, bool checkOnly) override {
        return inner_.begin_sync_run(owner, checkOnly);
    }
    void store_sync_result(int64_t run, const SyncResult& result) override {
        inner_.store_sync_result(run, result);
    }
    std::vector<SyncResult> sync_results(int64_t run) override { return inner_.sync_results(run); }
    Page<SyncRunInfo> sync_runs(int offset, int limit) override { return inner_.sync_runs(offset, limit); }
    int64_t begin_archive_run(const std::string& owner) override { return inner_.begin_archive_run(owner); }
    void store_archive_result(int64_t run, const ArchiveResult& result) override {
        inner_.store_archive_result(run, result);
    }
    std::vector<ArchiveResult> archive_results(int64_t run) override { return inner_.archive_results(run); }
    Page<ArchiveRunInfo> archive_runs(int offset, int limit) override {
        return inner_.archive_runs(offset, limit);
    }
    std::vector<ControllerSummary> controller_summaries() override { return inner_.controller_summaries(); }
    ImportCounts import_records(const std::vector<IncomingRecord>& records) override {
        return inner_.import_records(records);
    }
    std::vector<StoredRecord> records(const RecordQuery& query) override { return inner_.records(query); }
    int64_t count_records(const RecordQuery& query) override { return inner_.count_records(query); }
    std::optional<Photo> photo(const std::string& sha256) override { return inner_.photo(sha256); }
    void put_photo(const Photo& photo) override { inner_.put_photo(photo); }
    bool take_lease(const std::string& controller, const std::string& owner, int seconds) override {
        return inner_.take_lease(controller, owner, seconds);
    }
    void release_lease(const std::string& controller, const std::string& owner) override {
        inner_.release_lease(controller, owner);
    }
    std::optional<std::string> lease_holder(const std::string& controller) override {
        return inner_.lease_holder(controller);
    }
    std::vector<Event> append_events(std::vector<Event> events) override {
        return inner_.append_events(std::move(events));
    }
    std::vector<Event> events(int64_t afterId, const std::string& controller, const std::string& kind,
                              int limit) override {
        return inner_.events(afterId, controller, kind, limit);
    }
    int64_t last_event_id() override { return inner_.last_event_id(); }
    std::vector<OutboxMessage> outbox_pending(int limit) override { return inner_.outbox_pending(limit); }
    void mark_published(int64_t outboxId) override { inner_.mark_published(outboxId); }
    int64_t outbox_depth() override { return inner_.outbox_depth(); }
    CommandStored store_command(const HeardCommand& command, int64_t samePublishMs) override {
        return inner_.store_command(command, samePublishMs);
    }
    std::vector<std::string> command_controllers(const std::string& owner) override {
        return inner_.command_controllers(owner);
    }
    std::optional<ClaimedCommand> claim_command(const std::string& controller,
                                                const std::string& owner) override {
        return inner_.claim_command(controller, owner);
    }
    bool answer_command(const std::string& id, const std::string& runner,
                        const CommandOutcome& outcome) override {
        return inner_.answer_command(id, runner, outcome);
    }
    std::vector<StrandedCommand> stranded_commands(int64_t waitingMs) override {
        return inner_.stranded_commands(waitingMs);
    }
    void forget_commands(int64_t olderMs) override { inner_.forget_commands(olderMs); }
    void add_token(const TokenInfo& token, const std::string& hash) override {
        inner_.add_token(token, hash);
    }
    std::vector<TokenInfo> tokens() override { return inner_.tokens(); }
    bool revoke_token(const std::string& name) override { return inner_.revoke_token(name); }
    std::optional<TokenInfo> token_by_hash(const std::string& hash) override {
        return inner_.token_by_hash(hash);
    }
    void audit(const AuditEntry& entry) override { inner_.audit(entry); }
    Page<AuditEntry> audit_entries(int offset, int limit) override {
        return inner_.audit_entries(offset, limit);
    }
    Removed remove_older_than(int64_t beforeMs) override { return inner_.remove_older_than(beforeMs); }
    void backup(const std::string& file) override { inner_.backup(file); }
    int64_t now_ms() override { return inner_.now_ms(); }

private:
    Store& inner_;
};

}  // namespace test
}  // namespace doorlinkd
