#include "store/schema.h"

namespace doorlinkd {

// The schema's upgrades: step i takes the schema from version i to i + 1.
// A new version appends a step (and raises kSchemaVersion). Each statement
// is written over several string literals.
// NOLINTBEGIN(bugprone-suspicious-missing-comma)
const std::vector<std::vector<std::string>>& upgrade_steps() {
    static const std::vector<std::vector<std::string>> steps = {
        // 0 -> 1
        {
            "CREATE TABLE controllers ("
            " name {text} PRIMARY KEY,"
            " address {text} NOT NULL,"
            " mac {text} NOT NULL,"
            " number INTEGER NOT NULL UNIQUE,"
            " long_records INTEGER NOT NULL,"
            " photos INTEGER NOT NULL)",
            // days in the controller's form; extra_cards and controllers as
            // space-separated lists (no controllers: every controller)
            "CREATE TABLE cards ("
            " card {text} PRIMARY KEY,"
            " serial {text} NOT NULL,"
            " password {text} NOT NULL,"
            " user_style INTEGER NOT NULL,"
            " open_style INTEGER NOT NULL,"
            " sunday {text} NOT NULL,"
            " monday {text} NOT NULL,"
            " tuesday {text} NOT NULL,"
            " wednesday {text} NOT NULL,"
            " thursday {text} NOT NULL,"
            " friday {text} NOT NULL,"
            " saturday {text} NOT NULL,"
            " extra_cards {text} NOT NULL,"
            " controllers {text} NOT NULL)",
            // started: ms since the epoch, the database's clock
            "CREATE TABLE sync_runs ("
            " id {id},"
            " started BIGINT NOT NULL,"
            " owner {text} NOT NULL,"
            " check_only INTEGER NOT NULL)",
            "CREATE TABLE sync_results ("
            " id {id},"
            " run BIGINT NOT NULL REFERENCES sync_runs (id),"
            " controller {text} NOT NULL,"
            " status {text} NOT NULL,"
            " cards INTEGER NOT NULL,"
            " message {text} NOT NULL,"
            " UNIQUE (run, controller))",
            "CREATE TABLE sync_drift ("
            " run BIGINT NOT NULL,"
            " controller {text} NOT NULL,"
            " seq INTEGER NOT NULL,"
            " card {text} NOT NULL,"
            " field {text} NOT NULL,"
            " database_value {text},"
            " controller_value {text},"
            " PRIMARY KEY (run, controller, seq),"
            " FOREIGN KEY (run, controller) REFERENCES sync_results (run, controller) ON DELETE CASCADE)",
            "CREATE TABLE photos ("
            " sha256 {text} PRIMARY KEY,"
            " bytes {blob} NOT NULL,"
            " size BIGINT NOT NULL,"
            " whole INTEGER NOT NULL)",
            // A record is stored once by (controller, card, time, photo);
            // photo_sha256 is empty for a record without a photo. Records
            // outlive the removal of their controller.
            "CREATE TABLE records ("
            " id {id},"
            " controller {text} NOT NULL,"
            " card {text} NOT NULL,"
            " time {text} NOT NULL CHECK (length(time) = 14),"
            " kind INTEGER NOT NULL,"
            " photo_sha256 {text} NOT NULL DEFAULT '',"
            " UNIQUE (controller, card, time, photo_sha256))",
            "CREATE INDEX records_controller_time ON records (controller, time)",
            "CREATE INDEX records_card_time ON records (card, time)",
            "CREATE INDEX records_time ON records (time)",
            // expires: ms since the epoch, the database's clock
            "CREATE TABLE leases ("
            " controller {text} PRIMARY KEY,"
            " owner {text} NOT NULL,"
            " expires BIGINT NOT NULL)",
        },
    };
    return steps;
}

// NOLINTEND(bugprone-suspicious-missing-comma)

}  // namespace doorlinkd
