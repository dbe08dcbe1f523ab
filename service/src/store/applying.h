// What the controllers were sent of the policy, and the work that goes
// between processes: each controller's applied revision and the state its
// list was last verified in, the plans made before an apply, and the
// requests a command line hands to serve through the database.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace doorlinkd {

class Database;

// What a controller was last verified by read-back to hold: the records
// compiled at the instant atMs from the policy of `revision` with the
// leavers of `leavers` (the newest revision then, at least as new) taken
// out and the card rows of `leavers`.
struct VerifiedState {
    int64_t revision = 0;
    int64_t leavers = 0;
    int64_t atMs = 0;
    bool operator==(const VerifiedState& other) const {
        return revision == other.revision && leavers == other.leavers && atMs == other.atMs;
    }
    bool operator!=(const VerifiedState& other) const { return !(*this == other); }
};

// A controller's part of a plan: the verified state its changes were worked
// out against (none: never verified) and how many cards change there.
struct PlannedController {
    std::string controller;
    std::optional<VerifiedState> verified;
    int changes = 0;
};

struct StoredPlan {
    int64_t id = 0;        // given by store_plan
    int64_t revision = 0;  // the policy revision it compiled
    int64_t atMs = 0;      // the instant it compiled for
    bool atGiven = false;  // the instant was asked for (--at), not the moment it was made
    int64_t madeMs = 0;    // the database's clock, set by store_plan
    std::string madeBy;    // who made it
    std::vector<PlannedController> controllers;  // in name order
    std::optional<int64_t> appliedMs;            // when it was applied; none while it is not
    std::string appliedBy;
};

// A request handed to serve: kind "sync" or "apply", its arguments and its
// result as JSON texts of the caller's.
struct WorkRequest {
    int64_t id = 0;
    std::string kind;
    std::string arguments;
    std::string requestedBy;
    int64_t requestedMs = 0;
    std::optional<std::string> takenBy;  // the owner of the serve instance that took it
    std::optional<std::string> result;   // set when it is done
};

class ApplyingStore {
public:
    virtual ~ApplyingStore() = default;

    // The revision each controller's scheduled syncs compile, by controller
    // name; every controller has one (a controller added gets the revision of
    // the moment it is added, and so do the controllers of a database
    // upgraded to this schema).
    virtual std::map<std::string, int64_t> applied_revisions() = 0;
    // Every controller's verified state, by name; a controller never
    // verified (or whose list was found changed) has none.
    virtual std::map<std::string, VerifiedState> verified_states() = 0;
    // Records what a read-back confirmed. NotFound for an unknown controller.
    virtual void set_verified(const std::string& controller, const VerifiedState& state) = 0;
    // The controller's list is not known any more (a read-back found it
    // other than what was sent). NotFound for an unknown controller.
    virtual void clear_verified(const std::string& controller) = 0;

    // Stores the plan with a new id and the database's clock as madeMs;
    // returns the id.
    virtual int64_t store_plan(const StoredPlan& plan) = 0;
    // NotFound for an unknown id.
    virtual StoredPlan plan(int64_t id) = 0;
    // In one transaction that locks the policy's revision: refuses (PlanStale,
    // naming what changed) unless the plan was not applied, the policy is
    // still at the plan's revision, and each of the plan's controllers is
    // there with exactly the verified state given in `verified` (what the
    // caller read and judged to hold the same list as the plan says; absent
    // from the map: none); then moves the applied revision of the plan's
    // controllers to the plan's revision, marks the plan applied by `by` and
    // audits it (action "apply", target "plan N", from `from`) in the same
    // transaction. NotFound for an unknown id.
    virtual void apply_plan(int64_t id, const std::map<std::string, VerifiedState>& verified,
                            const std::string& by, const std::string& from) = 0;

    // A request for serve; returns its id.
    virtual int64_t submit_work(const std::string& kind, const std::string& arguments,
                                const std::string& requestedBy) = 0;
    // The oldest request no one took, now taken by owner; none when there is
    // none. Two callers never take one request.
    virtual std::optional<WorkRequest> take_work(const std::string& owner) = 0;
    // NotFound for an unknown id.
    virtual void finish_work(int64_t id, const std::string& result) = 0;
    // NotFound for an unknown id.
    virtual WorkRequest work(int64_t id) = 0;
};

class SqlApplying : public virtual ApplyingStore {
public:
    explicit SqlApplying(Database& database) : db_(database) {}

    std::map<std::string, int64_t> applied_revisions() override;
    std::map<std::string, VerifiedState> verified_states() override;
    void set_verified(const std::string& controller, const VerifiedState& state) override;
    void clear_verified(const std::string& controller) override;
    int64_t store_plan(const StoredPlan& plan) override;
    StoredPlan plan(int64_t id) override;
    void apply_plan(int64_t id, const std::map<std::string, VerifiedState>& verified, const std::string& by,
                    const std::string& from) override;
    int64_t submit_work(const std::string& kind, const std::string& arguments,
                        const std::string& requestedBy) override;
    std::optional<WorkRequest> take_work(const std::string& owner) override;
    void finish_work(int64_t id, const std::string& result) override;
    WorkRequest work(int64_t id) override;

private:
    Database& db_;
};

}  // namespace doorlinkd
