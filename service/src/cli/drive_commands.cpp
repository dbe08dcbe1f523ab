#include "archive/archive.h"
#include "cli/commands.h"
#include "fleet/json_forms.h"
#include "fleet/plan_operations.h"
#include "leases/lease_keeper.h"
#include "sync/sync.h"
#include "zones/policy_clock.h"

namespace doorlinkd {
namespace {

ExitCode exit_code_of(ArchiveStatus status) {
    switch (status) {
        case ArchiveStatus::Done: return kSuccess;
        case ArchiveStatus::Unreachable: return kUnreachable;
        case ArchiveStatus::Busy: return kBusy;
    }
    return kUnreachable;
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

SyncDone sync_run(Store& store, LeaseKeeper& leases, const DataDir& dataDir, const DriveArgs& args,
                  const std::vector<Controller>& controllers) {
    SyncOptions options;
    options.checkOnly = args.checkOnly;
    options.parallel = args.parallel;
    options.atMs = policy_now_ms();
    options.run = store.begin_sync_run(args.owner, args.checkOnly);
    return SyncDone{options.run, sync_controllers(store, leases, dataDir, controllers, options)};
}

Outcome sync_command(Store& store, const DataDir& dataDir, const DriveArgs& args) {
    const std::vector<Controller> controllers = chosen_controllers(store, args.names);
    Outcome journal;
    import_left_journals(store, dataDir, journal);
    LeaseKeeper leases(store, args.owner, args.leaseSeconds);
    Outcome outcome = sync_outcome(sync_run(store, leases, dataDir, args, controllers));
    outcome.json["journal"] = journal.json["journal"];
    outcome.lines.insert(outcome.lines.begin(), journal.lines.begin(), journal.lines.end());
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
