#include "cli/apply_command_line.h"

#include "cli/hand_over.h"
#include "fleet/leaver_removal.h"
#include "fleet/plan_operations.h"
#include "fleet/policy_operations.h"
#include "serve/work_taker.h"
#include "sync/sync.h"
#include "zones/instant_text.h"

namespace doorlinkd {
namespace {

Outcome disabled(Store& store, const std::string& id, std::optional<int64_t> revision, const DataDir& dataDir,
                 const DriveArgs& drive, bool handOver) {
    const Policy before = store.policy(CardRowsRead::none).policy;
    Outcome outcome = person_disable(store, id, revision, cli_actor());
    Outcome removal;
    if (handOver) {
        removal = handed_over(store, kLeaversWork, Json{{"revision", outcome.json.at("revision")}},
                              cli_actor().who);
    } else {
        LeaseKeeper leases(store, drive.owner, drive.leaseSeconds);
        removal =
            leaver_outcome(remove_leavers(store, leases, dataDir, before, store.policy(CardRowsRead::none),
                                          nullptr, drive.parallel, cli_actor()));
    }
    removal.json["person"] = outcome.json;
    removal.lines.insert(removal.lines.begin(), outcome.lines.begin(), outcome.lines.end());
    return removal;
}

}  // namespace

ApplyCommandLine::ApplyCommandLine(CLI::App& app) {
    plan_ = app.add_subcommand("plan",
                               "show what the newest policy would change on each controller against what "
                               "it was last verified to hold; nothing is sent (exit 4 when something would "
                               "change)");
    plan_->add_option("--site", site_, "the controllers of one site");
    plan_->add_option("--controller", controller_, "one controller");
    plan_->add_option("--at", at_,
                      "the moment, ISO 8601 with its offset (a plan for another moment cannot be "
                      "applied)");
    apply_ = app.add_subcommand("apply", "apply a plan: download the lists it changes and read them back");
    apply_->add_option("PLAN", planId_, "the plan's number, as plan printed it");
    apply_->add_flag("--now", now_, "apply the plan of this moment");
    CLI::App* person = app.get_subcommand("person");
    disable_ = person->add_subcommand(
        "disable", "a leaver: their cards leave every controller at once, each confirmed by read-back");
    disable_->add_option("ID", person_)->required();
    disable_->add_option("--revision", revision_, "the revision the change was made on");
    commands_ = {plan_, apply_, disable_};
}

bool ApplyCommandLine::parsed() const { return plan_->parsed() || apply_->parsed() || disable_->parsed(); }

bool ApplyCommandLine::drives() const { return apply_->parsed() || disable_->parsed(); }

Outcome ApplyCommandLine::run(Store& store, const DataDir& dataDir, const DriveArgs& drive, bool handOver) {
    if (plan_->parsed()) {
        PlanArgs args{site_, controller_, std::nullopt};
        if (!at_.empty()) args.atMs = parsed_iso_instant(at_);
        return plan_make(store, args, cli_actor());
    }
    if (disable_->parsed()) return disabled(store, person_, revision_, dataDir, drive, handOver);
    if (planId_.has_value() == now_) throw Refused("apply: give a plan's number or --now");
    if (handOver) {
        return handed_over(store, kApplyWork, now_ ? Json{{"now", true}} : Json{{"plan", *planId_}},
                           cli_actor().who);
    }
    LeaseKeeper leases(store, drive.owner, drive.leaseSeconds);
    const SyncDriver sync = [&](const std::vector<std::string>& names) {
        return sync_run(store, leases, dataDir, drive, chosen_controllers(store, names));
    };
    return now_ ? plan_apply_now(store, cli_actor(), sync) : plan_apply(store, *planId_, cli_actor(), sync);
}

Outcome sync_handed_over(Store& store, const DriveArgs& drive) {
    return handed_over(store, kSyncWork, Json{{"names", drive.names}, {"check", drive.checkOnly}},
                       cli_actor().who);
}

}  // namespace doorlinkd
