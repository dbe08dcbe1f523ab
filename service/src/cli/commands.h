// doorlinkd's commands beyond the operations the API shares (fleet/). Each
// takes what it needs and returns its outcome; refused input throws Refused
// (or RowsRefused), a database or local file failure StoreError, and main()
// turns those into outcomes too.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "fleet/operations.h"
#include "fleet/plan_operations.h"
#include "leases/lease_keeper.h"
#include "library/data_dir.h"
#include "serve/serve_options.h"
#include "store/store.h"

namespace doorlinkd {

// Creates or upgrades the schema (a new site main in defaultZone when the
// sites are new); makes a token "admin" (role admin) when there is no admin
// token, and prints it once.
Outcome init_command(Store& store, const std::string& defaultZone);

// Who the command line's changes are audited as.
inline Actor cli_actor() { return Actor{"cli", ""}; }

// A write of the command line, audited as the CLI's doing once it is done.
void audit_cli_write(Store& store, const std::string& action, const std::string& target,
                     const std::string& detail = "");

// The sites and the controllers' sites, each write audited.
Outcome site_add_command(Store& store, const Site& site);
Outcome site_set_command(Store& store, const std::string& name, const std::optional<std::string>& zone,
                         const std::optional<std::string>& description);
Outcome site_remove_command(Store& store, const std::string& name);
Outcome controller_set_command(Store& store, const std::string& name, const ControllerChange& change);

struct TokenAddArgs {
    std::string name;
    std::string role;
    std::optional<int> expiresDays;  // none: never expires
};
Outcome token_add(Store& store, const TokenAddArgs& args);
Outcome token_list(Store& store);
// NotFound when there is no token of the name.
Outcome token_revoke(Store& store, const std::string& name);
Outcome backup_command(Store& store, const std::string& file);

struct DriveArgs {
    std::vector<std::string> names;
    bool checkOnly = false;
    int parallel = 16;
    int leaseSeconds = 30;
    std::string owner;
};
// A sync run of the controllers under leases of the command line's own, its
// lists compiled for now (args.checkOnly: read back and compare only).
SyncDone sync_run(Store& store, LeaseKeeper& leases, const DataDir& dataDir, const DriveArgs& args,
                  const std::vector<Controller>& controllers);
// Both import what the journal of the data directory holds first.
Outcome sync_command(Store& store, const DataDir& dataDir, const DriveArgs& args);
Outcome archive_command(Store& store, const DataDir& dataDir, const DriveArgs& args);

// Serves until one of stopSignals comes (blocked in every thread by the
// caller before any thread started), having printed the ready line
// {"http": URL, "instance": NAME} once HTTP answers; ends within a few
// seconds of the signal. Throws what start-up refuses.
int serve_command(Store& store, const DataDir& dataDir, const ServeOptions& options,
                  const sigset_t& stopSignals);

Outcome records_command(Store& store, const RecordQuery& query);
// Writes the photo to the file with the given mode.
Outcome photo_get(Store& store, const std::string& sha256, const std::string& file, mode_t mode);

}  // namespace doorlinkd
