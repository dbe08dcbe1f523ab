#include "fleet/plan_operations.h"

#include <algorithm>
#include <map>

#include "cards/card_rules.h"
#include "fleet/json_forms.h"
#include "fleet/operations.h"
#include "policy/plan.h"
#include "sync/sent_lists.h"
#include "zones/instant_text.h"
#include "zones/policy_clock.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

const char* kind_name(CardChange::Kind kind) {
    switch (kind) {
        case CardChange::Kind::added: return "added";
        case CardChange::Kind::removed: return "removed";
        case CardChange::Kind::changed: return "changed";
    }
    return "changed";
}

Json to_json(const CardChange& change) {
    return Json{
        {"kind", kind_name(change.kind)}, {"card", change.card},
        {"person", change.person},        {"name", change.person.empty() ? Json() : Json(change.personName)},
        {"fields", change.fields},        {"reasons", change.reasons}};
}

Json to_json(const std::optional<VerifiedState>& state) {
    if (!state) return nullptr;
    return Json{{"revision", state->revision}, {"leavers", state->leavers}, {"at", iso_instant(state->atMs)}};
}

std::string change_line(const CardChange& change) {
    const char* mark = change.kind == CardChange::Kind::added     ? "+"
                       : change.kind == CardChange::Kind::removed ? "-"
                                                                  : "~";
    std::string line = std::string("  ") + mark + " card " + change.card;
    if (!change.fields.empty()) line += " (" + join_words(change.fields) + ")";
    std::string reasons;
    for (const std::string& reason : change.reasons) reasons += (reasons.empty() ? "" : "; ") + reason;
    return line + ": " + reasons;
}

// The controllers a plan covers, in name order.
// What the policy at atMs changes on the controller against the list it
// was verified to hold (all of it when it never was).
std::vector<CardChange> planned_changes(VerifiedPolicies& held, const std::optional<VerifiedState>& state,
                                        const Policy& policy, int64_t atMs, const Controller& controller) {
    static const Policy none;
    return plan_controller(state ? held.policy_of(*state) : none, state ? state->atMs : atMs, policy, atMs,
                           controller);
}

Json planned_json(const Controller& controller, const std::optional<VerifiedState>& state,
                  const std::vector<CardChange>& changes) {
    Json list = Json::array();
    for (const CardChange& change : changes) list.push_back(to_json(change));
    return Json{{"name", controller.name},
                {"site", controller.site},
                {"verified", to_json(state)},
                {"changes", list}};
}

std::vector<Controller> chosen(Store& store, const PlanArgs& args) {
    std::vector<Controller> all = store.controllers();
    if (!args.site.empty() && !store.site(args.site)) throw NotFound("no site named " + args.site);
    if (!args.controller.empty() && std::none_of(all.begin(), all.end(), [&](const Controller& c) {
            return c.name == args.controller;
        })) {
        throw NotFound("no controller named " + args.controller);
    }
    std::vector<Controller> controllers;
    for (Controller& controller : all) {
        if (!args.site.empty() && controller.site != args.site) continue;
        if (!args.controller.empty() && controller.name != args.controller) continue;
        controllers.push_back(std::move(controller));
    }
    return controllers;
}

// "yyyymmdd" at the controller at an instant: what its list depends on of the time.
std::string local_date(int64_t atMs, const Controller& controller) {
    return local_text(atMs, controller.zone).substr(0, 8);
}

// Whether the controller holds the same list in both states, read on one
// local date. States of other revisions may compile to the same list: every
// sync records the newest revision as its leavers', so an edit that does not
// touch this controller moves its state without moving its list.
bool same_list(const std::optional<VerifiedState>& a, const std::optional<VerifiedState>& b,
               const Controller& controller, VerifiedPolicies& held) {
    if (!a || !b) return !a && !b;
    if (local_date(a->atMs, controller) != local_date(b->atMs, controller)) return false;
    if (a->revision == b->revision && a->leavers == b->leavers) return true;
    return plan_controller(held.policy_of(*a), a->atMs, held.policy_of(*b), b->atMs, controller).empty();
}

std::optional<VerifiedState> state_of(const std::map<std::string, VerifiedState>& states,
                                      const std::string& controller) {
    const auto found = states.find(controller);
    if (found == states.end()) return std::nullopt;
    return found->second;
}

ExitCode exit_code_of(SyncStatus status) {
    switch (status) {
        case SyncStatus::InStep:
        case SyncStatus::Repaired: return kSuccess;
        case SyncStatus::Drift: return kDriftRemains;
        case SyncStatus::Unreachable: return kUnreachable;
        case SyncStatus::Busy: return kBusy;
    }
    return kUnreachable;
}

// A PIN is never printed: what sync prints tends to end in a log.
std::string value_text(const Drift& drift, const std::optional<std::string>& value) {
    if (value && drift.field == kCardColumns[kPasswordColumn]) return "(hidden)";
    return value ? "\"" + *value + "\"" : "none";
}

}  // namespace

Outcome plan_make(Store& store, const PlanArgs& args, const Actor& actor) {
    const PolicyAt newest = store.policy();
    const std::map<std::string, VerifiedState> verified = store.verified_states();
    StoredPlan plan;
    plan.revision = newest.revision;
    plan.atGiven = args.atMs.has_value();
    plan.atMs = args.atMs.value_or(policy_now_ms());
    plan.madeBy = actor.who;
    VerifiedPolicies held(store);
    Json controllers = Json::array();
    std::vector<std::string> lines;
    int changing = 0;
    for (const Controller& controller : chosen(store, args)) {
        const std::optional<VerifiedState> state = state_of(verified, controller.name);
        const std::vector<CardChange> changes =
            planned_changes(held, state, newest.policy, plan.atMs, controller);
        plan.controllers.push_back(
            PlannedController{controller.name, state, static_cast<int>(changes.size())});
        controllers.push_back(planned_json(controller, state, changes));
        if (changes.empty()) continue;
        int counts[3] = {0, 0, 0};
        for (const CardChange& change : changes) ++counts[static_cast<int>(change.kind)];
        ++changing;
        lines.push_back(controller.name + ": " + std::to_string(counts[0]) + " added, " +
                        std::to_string(counts[1]) + " removed, " + std::to_string(counts[2]) + " changed" +
                        (state ? "" : " (never verified: every card it must hold is shown as added)"));
        for (const CardChange& change : changes) lines.push_back(change_line(change));
    }
    const int64_t id = store.store_plan(plan);
    Outcome outcome;
    outcome.code = changing > 0 ? kDriftRemains : kSuccess;
    outcome.json = Json{{"plan", id},
                        {"revision", plan.revision},
                        {"at", iso_instant(plan.atMs)},
                        {"changing", changing},
                        {"controllers", controllers}};
    outcome.lines.push_back("plan " + std::to_string(id) + " of revision " + std::to_string(plan.revision) +
                            " at " + iso_instant(plan.atMs) + ": " + std::to_string(changing) + " of " +
                            std::to_string(plan.controllers.size()) + " controllers change");
    outcome.lines.insert(outcome.lines.end(), lines.begin(), lines.end());
    return outcome;
}

Outcome plan_show(Store& store, int64_t id) {
    const StoredPlan plan = store.plan(id);
    // The changes are not stored: they are compiled again from what the plan
    // was made of, the policy at its revision and each controller's
    // verified state at the time, which gives them as they were.
    const PolicyAt compiled = store.policy_at(plan.revision);
    std::map<std::string, Controller> present;
    for (Controller& controller : store.controllers()) present.emplace(controller.name, controller);
    VerifiedPolicies held(store);
    Json controllers = Json::array();
    int changing = 0;
    for (const PlannedController& planned : plan.controllers) {
        const auto controller = present.find(planned.controller);
        if (controller == present.end()) {
            controllers.push_back(Json{{"name", planned.controller},
                                       {"verified", to_json(planned.verified)},
                                       {"changes", Json::array()},
                                       {"removed", true}});
        } else {
            controllers.push_back(planned_json(
                controller->second, planned.verified,
                planned_changes(held, planned.verified, compiled.policy, plan.atMs, controller->second)));
        }
        if (planned.changes > 0) ++changing;
    }
    const std::string state =
        plan.appliedMs ? "applied " + iso_instant(*plan.appliedMs) + " by " + plan.appliedBy : "not applied";
    return success(Json{{"plan", plan.id},
                        {"revision", plan.revision},
                        {"at", iso_instant(plan.atMs)},
                        {"at_given", plan.atGiven},
                        {"made", iso_instant(plan.madeMs)},
                        {"made_by", plan.madeBy},
                        {"changing", changing},
                        {"controllers", controllers},
                        {"applied", plan.appliedMs ? Json(iso_instant(*plan.appliedMs)) : Json()},
                        {"applied_by", plan.appliedMs ? Json(plan.appliedBy) : Json()}},
                   "plan " + std::to_string(plan.id) + " of revision " + std::to_string(plan.revision) +
                       " at " + iso_instant(plan.atMs) + ": " + std::to_string(changing) + " of " +
                       std::to_string(plan.controllers.size()) + " controllers change; " + state);
}

Outcome plan_apply(Store& store, int64_t id, const Actor& actor, const SyncDriver& sync) {
    const StoredPlan plan = store.plan(id);
    if (plan.appliedMs) throw PlanStale("plan " + std::to_string(id) + " was applied already");
    if (plan.atGiven) {
        throw Refused("plan " + std::to_string(id) + " was made for " + iso_instant(plan.atMs) +
                      " (--at): only a plan made for now can be applied");
    }
    const std::map<std::string, VerifiedState> verified = store.verified_states();
    std::map<std::string, Controller> controllers;
    for (Controller& controller : store.controllers()) controllers.emplace(controller.name, controller);
    const int64_t now = policy_now_ms();
    VerifiedPolicies held(store);
    std::map<std::string, VerifiedState> expected;
    std::vector<std::string> changing;
    for (const PlannedController& planned : plan.controllers) {
        const auto controller = controllers.find(planned.controller);
        if (controller == controllers.end()) {
            throw PlanStale("controller " + planned.controller + " was removed since plan " +
                            std::to_string(id) + " was made");
        }
        const std::optional<VerifiedState> state = state_of(verified, planned.controller);
        if (!same_list(state, planned.verified, controller->second, held)) {
            throw PlanStale("controller " + planned.controller +
                            " was verified with another list since plan " + std::to_string(id) + " was made");
        }
        if (local_date(plan.atMs, controller->second) != local_date(now, controller->second)) {
            throw PlanStale("the date at " + planned.controller + " changed since plan " +
                            std::to_string(id) + " was made");
        }
        if (state) expected.emplace(planned.controller, *state);
        if (planned.changes > 0) changing.push_back(planned.controller);
    }
    store.apply_plan(id, expected, actor.who, actor.address);
    Outcome outcome = sync_outcome(sync(changing));
    outcome.json["plan"] = id;
    outcome.json["revision"] = plan.revision;
    outcome.lines.insert(outcome.lines.begin(), "applied plan " + std::to_string(id) + " (revision " +
                                                    std::to_string(plan.revision) + ") to " +
                                                    std::to_string(changing.size()) + " controllers");
    return outcome;
}

Outcome plan_apply_now(Store& store, const Actor& actor, const SyncDriver& sync) {
    const Outcome planned = plan_make(store, PlanArgs{}, actor);
    Outcome outcome = plan_apply(store, planned.json.at("plan").get<int64_t>(), actor, sync);
    outcome.lines.insert(outcome.lines.begin(), planned.lines.begin(), planned.lines.end());
    outcome.json["changes"] = planned.json["controllers"];
    return outcome;
}

Outcome sync_outcome(const SyncDone& done) {
    Outcome outcome;
    outcome.json["run"] = done.run;
    Json list = Json::array();
    for (const SyncResult& result : done.results) {
        outcome.code = worst(outcome.code, exit_code_of(result.status));
        list.push_back(to_json(result, PinView::Hidden));
        outcome.lines.push_back(result.controller + ": " + status_name(result.status) + " (" +
                                std::to_string(result.cards) + (result.cards == 1 ? " card)" : " cards)") +
                                (result.message.empty() ? "" : ": " + result.message));
        for (const Drift& d : result.drift) {
            outcome.lines.push_back("  card " + d.card + " " + d.field + ": database " +
                                    value_text(d, d.database) + ", controller " +
                                    value_text(d, d.controller));
        }
    }
    outcome.json["controllers"] = list;
    return outcome;
}

}  // namespace doorlinkd
