#include "store/applying.h"

#include "model/access.h"
#include "store/access.h"
#include "store/database.h"
#include "store/policy.h"

namespace doorlinkd {
namespace {

// A verified state from its three columns, which are NULL together.
std::optional<VerifiedState> verified_of(const Row& row, size_t first) {
    if (row.at(first).is_null()) return std::nullopt;
    return VerifiedState{row.at(first).integer(), row.at(first + 1).integer(), row.at(first + 2).integer()};
}

std::vector<Value> verified_values(const std::optional<VerifiedState>& state) {
    if (!state) return {Value(), Value(), Value()};
    return {state->revision, state->leavers, state->atMs};
}

// Sets a controller's verified columns to the state's (none: NULL).
void write_verified(Tx& tx, const std::string& controller, const std::optional<VerifiedState>& state) {
    std::vector<Value> params = verified_values(state);
    params.emplace_back(controller);
    if (tx.exec("UPDATE controller_policy SET verified_revision = ?, verified_leavers = ?, verified_at = ?"
                " WHERE controller = ?",
                params)
            .changes == 0) {
        throw NotFound("no controller named " + controller);
    }
}

std::string plan_name(int64_t id) { return "plan " + std::to_string(id); }

StoredPlan read_plan(Tx& tx, int64_t id, const std::string& lock) {
    const auto rows = tx.rows(
        "SELECT revision, at_ms, at_given, made_ms, made_by, applied_ms, applied_by FROM plans"
        " WHERE id = ? " +
            lock,
        {id});
    if (rows.empty()) throw NotFound("no " + plan_name(id));
    const Row& row = rows.front();
    StoredPlan plan;
    plan.id = id;
    plan.revision = row.at(0).integer();
    plan.atMs = row.at(1).integer();
    plan.atGiven = row.at(2).integer() != 0;
    plan.madeMs = row.at(3).integer();
    plan.madeBy = row.at(4).text();
    if (!row.at(5).is_null()) plan.appliedMs = row.at(5).integer();
    plan.appliedBy = row.at(6).text();
    for (const Row& c : tx.rows("SELECT controller, verified_revision, verified_leavers, verified_at, changes"
                                " FROM plan_controllers WHERE plan = ? ORDER BY controller",
                                {id})) {
        plan.controllers.push_back(
            PlannedController{c.at(0).text(), verified_of(c, 1), static_cast<int>(c.at(4).integer())});
    }
    return plan;
}

// Refuses the apply unless the controller is there with exactly the state
// the caller judged (none: never verified, or found changed).
void check_verified(Tx& tx, const std::string& controller, const std::optional<VerifiedState>& judged) {
    const auto rows = tx.rows(
        "SELECT verified_revision, verified_leavers, verified_at FROM controller_policy"
        " WHERE controller = ? {for_update}",
        {controller});
    if (rows.empty()) throw PlanStale("controller " + controller + " was removed since the plan was made");
    const std::optional<VerifiedState> stored = verified_of(rows.front(), 0);
    if (stored == judged) return;
    throw PlanStale("controller " + controller +
                    (stored ? " was verified again since the plan was made"
                            : " was found changed since the plan was made (it is not verified any more)"));
}

WorkRequest work_request(Tx& tx, int64_t id) {
    const auto rows = tx.rows(
        "SELECT kind, arguments, requested_by, requested_ms, taken_by, result FROM work_requests WHERE id = "
        "?",
        {id});
    if (rows.empty()) throw NotFound("no work request " + std::to_string(id));
    const Row& row = rows.front();
    return WorkRequest{id,
                       row.at(0).text(),
                       row.at(1).text(),
                       row.at(2).text(),
                       row.at(3).integer(),
                       optional_text(row.at(4)),
                       optional_text(row.at(5))};
}

}  // namespace

std::map<std::string, int64_t> SqlApplying::applied_revisions() {
    return db_.transaction(false, [](Tx& tx) {
        std::map<std::string, int64_t> out;
        for (const Row& row : tx.rows("SELECT controller, applied FROM controller_policy")) {
            out[row.at(0).text()] = row.at(1).integer();
        }
        return out;
    });
}

std::map<std::string, VerifiedState> SqlApplying::verified_states() {
    return db_.transaction(false, [](Tx& tx) {
        std::map<std::string, VerifiedState> out;
        for (const Row& row : tx.rows(
                 "SELECT controller, verified_revision, verified_leavers, verified_at FROM controller_policy"
                 " WHERE verified_revision IS NOT NULL")) {
            out[row.at(0).text()] = *verified_of(row, 1);
        }
        return out;
    });
}

void SqlApplying::set_verified(const std::string& controller, const VerifiedState& state) {
    db_.transaction(true, [&](Tx& tx) {
        write_verified(tx, controller, state);
        return 0;
    });
}

void SqlApplying::clear_verified(const std::string& controller) {
    db_.transaction(true, [&](Tx& tx) {
        write_verified(tx, controller, std::nullopt);
        return 0;
    });
}

int64_t SqlApplying::store_plan(const StoredPlan& plan) {
    return db_.transaction(true, [&](Tx& tx) {
        const int64_t id = tx.rows(
                                 "INSERT INTO plans (revision, at_ms, at_given, made_ms, made_by)"
                                 " VALUES (?, ?, ?, {now_ms}, ?) RETURNING id",
                                 {plan.revision, plan.atMs, plan.atGiven, plan.madeBy})
                               .at(0)
                               .at(0)
                               .integer();
        for (const PlannedController& c : plan.controllers) {
            std::vector<Value> params = {id, c.controller};
            for (Value& value : verified_values(c.verified)) params.push_back(std::move(value));
            params.emplace_back(c.changes);
            tx.exec(
                "INSERT INTO plan_controllers (plan, controller, verified_revision, verified_leavers,"
                " verified_at, changes) VALUES (?, ?, ?, ?, ?, ?)",
                params);
        }
        return id;
    });
}

StoredPlan SqlApplying::plan(int64_t id) {
    return db_.transaction(false, [&](Tx& tx) { return read_plan(tx, id, ""); });
}

void SqlApplying::apply_plan(int64_t id, const std::map<std::string, VerifiedState>& verified,
                             const std::string& by, const std::string& from) {
    db_.transaction(true, [&](Tx& tx) {
        // Policy writers wait until this is done: the revision checked is
        // the one the controllers are moved to.
        const int64_t revision = lock_policy_revision(tx);
        const StoredPlan plan = read_plan(tx, id, "{for_update}");
        if (plan.appliedMs) throw PlanStale(plan_name(id) + " was applied already");
        if (revision != plan.revision) {
            throw PlanStale("the policy is at revision " + std::to_string(revision) + ", the plan compiled " +
                            std::to_string(plan.revision));
        }
        for (const PlannedController& c : plan.controllers) {
            const auto judged = verified.find(c.controller);
            check_verified(tx, c.controller,
                           judged == verified.end() ? std::nullopt : std::optional(judged->second));
        }
        for (const PlannedController& c : plan.controllers) {
            tx.exec("UPDATE controller_policy SET applied = ? WHERE controller = ?",
                    {plan.revision, c.controller});
        }
        tx.exec("UPDATE plans SET applied_ms = {now_ms}, applied_by = ? WHERE id = ?", {by, id});
        AuditEntry entry;
        entry.who = by;
        entry.address = from;
        entry.action = "apply";
        entry.target = plan_name(id);
        entry.result = "ok";
        entry.detail = "revision " + std::to_string(plan.revision) + " to " +
                       std::to_string(plan.controllers.size()) + " controllers";
        insert_audit(tx, entry);
        return 0;
    });
}

int64_t SqlApplying::submit_work(const std::string& kind, const std::string& arguments,
                                 const std::string& requestedBy) {
    return db_.transaction(true, [&](Tx& tx) {
        return tx
            .rows(
                "INSERT INTO work_requests (kind, arguments, requested_by, requested_ms)"
                " VALUES (?, ?, ?, {now_ms}) RETURNING id",
                {kind, arguments, requestedBy})
            .at(0)
            .at(0)
            .integer();
    });
}

std::optional<WorkRequest> SqlApplying::take_work(const std::string& owner) {
    return db_.transaction(true, [&](Tx& tx) -> std::optional<WorkRequest> {
        while (true) {
            const auto oldest =
                tx.rows("SELECT id FROM work_requests WHERE taken_by IS NULL ORDER BY id LIMIT 1");
            if (oldest.empty()) return std::nullopt;
            const int64_t id = oldest.front().at(0).integer();
            // Another process may take it in between: then the row it
            // updated no longer matches, and the next oldest is tried.
            if (tx.exec("UPDATE work_requests SET taken_by = ?, taken_ms = {now_ms}"
                        " WHERE id = ? AND taken_by IS NULL",
                        {owner, id})
                    .changes > 0) {
                return work_request(tx, id);
            }
        }
    });
}

void SqlApplying::finish_work(int64_t id, const std::string& result) {
    db_.transaction(true, [&](Tx& tx) {
        if (tx.exec("UPDATE work_requests SET result = ?, done_ms = {now_ms} WHERE id = ?", {result, id})
                .changes == 0) {
            throw NotFound("no work request " + std::to_string(id));
        }
        return 0;
    });
}

WorkRequest SqlApplying::work(int64_t id) {
    return db_.transaction(false, [&](Tx& tx) { return work_request(tx, id); });
}

}  // namespace doorlinkd
