#include "archive/archive.h"
#include "cards/card_rules.h"
#include "cli/commands.h"
#include "fleet/json_forms.h"
#include "leases/lease_keeper.h"
#include "sync/sync.h"

namespace doorlinkd {
namespace {

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

ExitCode exit_code_of(ArchiveStatus status) {
    switch (status) {
        case ArchiveStatus::Done: return kSuccess;
        case ArchiveStatus::Unreachable: return kUnreachable;
        case ArchiveStatus::Busy: return kBusy;
    }
    return kUnreachable;
}

// A PIN is never printed: what sync prints tends to end in a log.
std::string value_text(const Drift& drift, const std::optional<std::string>& value) {
    if (value && drift.field == kCardColumns[kPasswordColumn]) return "(hidden)";
    return value ? "\"" + *value + "\"" : "none";
}

// What the journal held from a process that died: imported before the
// controllers are driven again, so nothing waits for a later run. The
// counts go into the JSON object as "journal".
void import_left_journals(Store& store, const DataDir& dataDir, Outcome& outcome) {
    const ImportCounts journal = import_journals(store, dataDir);
    outcome.json["journal"] = Json{{"records", journal.records}, {"photos", journal.photos}};
    if (journal.records > 0 || journal.photos > 0) {
        outcome.lines.push_back("imported from the journal: " + std::to_string(journal.records) +
                                " records, " + std::to_string(journal.photos) + " photos");
    }
}

}  // namespace

Outcome sync_command(Store& store, const DataDir& dataDir, const DriveArgs& args) {
    const std::vector<Controller> controllers = chosen_controllers(store, args.names);
    Outcome outcome;
    import_left_journals(store, dataDir, outcome);
    LeaseKeeper leases(store, args.owner, args.leaseSeconds);
    SyncOptions options;
    options.checkOnly = args.checkOnly;
    options.parallel = args.parallel;
    options.run = store.begin_sync_run(args.owner, args.checkOnly);
    outcome.json["run"] = options.run;
    Json list = Json::array();
    for (const SyncResult& result : sync_controllers(store, leases, dataDir, controllers, options)) {
        outcome.code = worst(outcome.code, exit_code_of(result.status));
        list.push_back(to_json(result, PinView::Hidden));
        outcome.lines.push_back(result.controller + ": " + status_name(result.status) + " (" +
                                std::to_string(result.cards) + " cards)" +
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

Outcome archive_command(Store& store, const DataDir& dataDir, const DriveArgs& args) {
    const std::vector<Controller> controllers = chosen_controllers(store, args.names);
    Outcome outcome;
    import_left_journals(store, dataDir, outcome);
    LeaseKeeper leases(store, args.owner, args.leaseSeconds);
    const int64_t run = store.begin_archive_run(args.owner);
    outcome.json["run"] = run;
    Json list = Json::array();
    for (const ArchiveResult& result :
         archive_controllers(store, leases, dataDir, controllers, args.parallel, run)) {
        outcome.code = worst(outcome.code, exit_code_of(result.status));
        list.push_back(to_json(result));
        outcome.lines.push_back(result.controller + ": " + status_name(result.status) + ", " +
                                std::to_string(result.records) + " records, " +
                                std::to_string(result.photos) + " photos" +
                                (result.message.empty() ? "" : ": " + result.message));
    }
    outcome.json["controllers"] = list;
    return outcome;
}

}  // namespace doorlinkd
