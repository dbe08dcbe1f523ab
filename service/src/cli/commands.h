// doorlinkd's commands. Each takes what it needs and returns its outcome;
// refused input throws Refused (or RowsRefused), a database or local file
// failure StoreError, and main() turns those into outcomes too.
#pragma once

#include <signal.h>

#include <optional>
#include <string>
#include <vector>

#include "cards/card_csv.h"
#include "cli/outcome.h"
#include "library/data_dir.h"
#include "serve/serve_options.h"
#include "store/store.h"

namespace doorlinkd {

// Creates or upgrades the schema; makes a token "admin" (role admin) when
// there is no admin token, and prints it once.
Outcome init_command(Store& store);

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

struct ControllerAddArgs {
    std::string name, address, mac;
    std::optional<int> number;
    bool longRecords = false;
    bool noPhotos = false;
};
Outcome controller_add(Store& store, const ControllerAddArgs& args);
Outcome controller_list(Store& store);
Outcome controller_remove(Store& store, const std::string& name);

Outcome card_import(Store& store, const std::string& file, bool replace);
// The same of a CSV text; source (a file name, or "") begins its messages.
Outcome card_import_text(Store& store, const std::string& text, const std::string& source, bool replace);
Outcome card_export(Store& store, const std::string& file);
// fields: the options given (nullopt: not given); fields[0] is the card.
// The options not given keep the card's values.
Outcome card_set(Store& store, const CardFields& fields);
// Adds or replaces the whole card, checked as a row of an import (fields not
// given take their defaults) and against the fleet rules.
Outcome card_put(Store& store, const CardFields& fields);
Outcome card_remove(Store& store, const std::string& card);

// The controllers named (all when none is); NotFound for an unknown name.
std::vector<Controller> chosen_controllers(Store& store, const std::vector<std::string>& names);

struct DriveArgs {
    std::vector<std::string> names;
    bool checkOnly = false;
    int parallel = 16;
    int leaseSeconds = 30;
    std::string owner;
};
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
Outcome photo_get(Store& store, const std::string& sha256, const std::string& file);

// Writes a file whole or not at all: a temporary file beside it, renamed
// over it (the same file system, so the rename cannot fail for that).
void write_file_atomically(const std::string& path, const void* data, size_t size);

}  // namespace doorlinkd
