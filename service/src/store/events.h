// Events, the outbox that carries them (and commands' answers) to MQTT, and
// the MQTT commands shared by the instances.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/command.h"
#include "model/event.h"

namespace doorlinkd {

class Database;
class Tx;

class EventStore {
public:
    virtual ~EventStore() = default;

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
};

class SqlEvents : public virtual EventStore {
public:
    explicit SqlEvents(Database& database) : db_(database) {}

    std::vector<Event> append_events(std::vector<Event> events) override;
    std::vector<Event> events(int64_t afterId, const std::string& controller, const std::string& kind,
                              int limit) override;
    int64_t last_event_id() override;
    std::vector<OutboxMessage> outbox_pending(int limit) override;
    void mark_published(int64_t outboxId) override;
    int64_t outbox_depth() override;
    CommandStored store_command(const HeardCommand& command, int64_t samePublishMs) override;
    std::vector<std::string> command_controllers(const std::string& owner) override;
    std::optional<ClaimedCommand> claim_command(const std::string& controller,
                                                const std::string& owner) override;
    bool answer_command(const std::string& id, const std::string& runner,
                        const CommandOutcome& outcome) override;
    std::vector<StrandedCommand> stranded_commands(int64_t waitingMs) override;
    void forget_commands(int64_t olderMs) override;

private:
    Database& db_;
};

// Stores the events and their outbox messages in another part's transaction
// (an import's records); sets their ids and times.
void insert_events(Tx& tx, std::vector<Event>& events);

}  // namespace doorlinkd
