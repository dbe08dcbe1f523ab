#include "store/events.h"

#include <algorithm>

#include "store/access.h"
#include "store/database.h"
#include "store/record_event.h"

namespace doorlinkd {

namespace {

// A command's audit entry and, when it has somewhere to go, its answer
// in the outbox.
void write_answer(Tx& tx, const std::string& id, const std::string& controller, const std::string& verb,
                  const std::string& answerTopic, const std::optional<std::string>& correlation,
                  const CommandOutcome& outcome) {
    insert_audit(tx, command_audit(id, controller, verb, outcome));
    if (answerTopic.empty()) return;
    tx.exec(
        "INSERT INTO outbox (created, topic, payload, retained, correlation) VALUES ({now_ms}, ?, ?, 0, "
        "?)",
        {answerTopic, command_answer(id, outcome.result, outcome.error, outcome.run), blob_of(correlation)});
}

}  // namespace

std::vector<Event> SqlEvents::append_events(std::vector<Event> events) {
    return db_.transaction(true, [&](Tx& tx) {
        insert_events(tx, events);
        return events;
    });
}

std::vector<Event> SqlEvents::events(int64_t afterId, const std::string& controller, const std::string& kind,
                                     int limit) {
    return db_.transaction(false, [&](Tx& tx) {
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
            out.push_back(Event{row.at(0).integer(), row.at(1).integer(), row.at(2).text(), row.at(3).text(),
                                row.at(4).text()});
        }
        return out;
    });
}

int64_t SqlEvents::last_event_id() {
    return db_.transaction(false, [](Tx& tx) {
        const Value last = tx.rows("SELECT max(id) FROM events").at(0).at(0);
        return last.is_null() ? int64_t{0} : last.integer();
    });
}

std::vector<EventStore::OutboxMessage> SqlEvents::outbox_pending(int limit) {
    return db_.transaction(false, [&](Tx& tx) {
        std::vector<Value> params;
        std::vector<OutboxMessage> out;
        for (const Row& row :
             tx.rows("SELECT id, topic, payload, retained, correlation FROM outbox WHERE published IS NULL"
                     " ORDER BY id" +
                         page_clause(0, limit, params),
                     params)) {
            out.push_back(OutboxMessage{row.at(0).integer(), row.at(1).text(), row.at(2).text(),
                                        row.at(3).integer() != 0, text_of_blob(row.at(4))});
        }
        return out;
    });
}

void SqlEvents::mark_published(int64_t outboxId) {
    db_.transaction(true, [&](Tx& tx) {
        tx.exec("UPDATE outbox SET published = {now_ms} WHERE id = ? AND published IS NULL", {outboxId});
        return 0;
    });
}

int64_t SqlEvents::outbox_depth() {
    return db_.transaction(false, [](Tx& tx) {
        return tx.rows("SELECT count(*) FROM outbox WHERE published IS NULL").at(0).at(0).integer();
    });
}

EventStore::CommandStored SqlEvents::store_command(const HeardCommand& c, int64_t samePublishMs) {
    return db_.transaction(true, [&](Tx& tx) {
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
            {c.id, copy, c.fingerprint, c.controller, c.verb, c.door, c.answerTopic, blob_of(c.correlation),
             c.ageMs, waiting ? "waiting" : "done", waiting ? "" : outcome.result, outcome.error});
        if (waiting) return CommandStored::Waiting;
        write_answer(tx, c.id, c.controller, c.verb, c.answerTopic, c.correlation, outcome);
        return CommandStored::Answered;
    });
}

std::vector<std::string> SqlEvents::command_controllers(const std::string& owner) {
    return db_.transaction(false, [&](Tx& tx) {
        std::vector<std::string> out;
        for (const Row& row : tx.rows("SELECT DISTINCT c.controller FROM commands c"
                                      " JOIN leases l ON l.controller = c.controller"
                                      " WHERE c.state = 'waiting' AND l.owner = ? AND l.expires > {now_ms}"
                                      " ORDER BY c.controller",
                                      {owner})) {
            out.push_back(row.at(0).text());
        }
        return out;
    });
}

std::optional<ClaimedCommand> SqlEvents::claim_command(const std::string& controller,
                                                       const std::string& owner) {
    return db_.transaction(true, [&](Tx& tx) -> std::optional<ClaimedCommand> {
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

bool SqlEvents::answer_command(const std::string& id, const std::string& runner,
                               const CommandOutcome& outcome) {
    return db_.transaction(true, [&](Tx& tx) {
        const auto rows = tx.rows(
            "UPDATE commands SET state = 'done', result = ?, error = ?"
            " WHERE id = ? AND copy = 0 AND state = ? AND runner = ?"
            " RETURNING controller, verb, answer_topic, correlation",
            {outcome.result, outcome.error, id, runner.empty() ? "waiting" : "running", runner});
        if (rows.empty()) return false;
        const Row& row = rows.front();
        write_answer(tx, id, row.at(0).text(), row.at(1).text(), row.at(2).text(), text_of_blob(row.at(3)),
                     outcome);
        return true;
    });
}

std::vector<StrandedCommand> SqlEvents::stranded_commands(int64_t waitingMs) {
    return db_.transaction(false, [&](Tx& tx) {
        std::vector<StrandedCommand> out;
        for (const Row& row :
             tx.rows("SELECT c.id, c.controller, c.runner, {now_ms} - c.received FROM commands c WHERE"
                     " (c.state = 'waiting' AND c.received < {now_ms} - ? AND NOT EXISTS (SELECT 1 FROM "
                     "leases l"
                     "  WHERE l.controller = c.controller AND l.expires > {now_ms}))"
                     " OR (c.state = 'running' AND NOT EXISTS (SELECT 1 FROM leases l"
                     "  WHERE l.controller = c.controller AND l.owner = c.runner AND l.expires > {now_ms}))"
                     " ORDER BY c.seq",
                     {waitingMs})) {
            out.push_back(
                StrandedCommand{row.at(0).text(), row.at(1).text(), row.at(2).text(), row.at(3).integer()});
        }
        return out;
    });
}

void SqlEvents::forget_commands(int64_t olderMs) {
    db_.transaction(true, [&](Tx& tx) {
        tx.exec("DELETE FROM commands WHERE state = 'done' AND received < {now_ms} - ?", {olderMs});
        return 0;
    });
}

// Stores the events and their outbox messages; sets their ids and times.
void insert_events(Tx& tx, std::vector<Event>& events) {
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

}  // namespace doorlinkd
