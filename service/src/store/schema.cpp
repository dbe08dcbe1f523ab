#include "store/schema.h"

namespace doorlinkd {

namespace {

// The seven days' columns, Sunday first: of card rows (the days in the
// controller's form) and of schedules.
constexpr const char* kDayColumns =
    " sunday {text} NOT NULL, monday {text} NOT NULL, tuesday {text} NOT NULL, wednesday {text} NOT NULL,"
    " thursday {text} NOT NULL, friday {text} NOT NULL, saturday {text} NOT NULL";

// The columns of a card row but its number, which the card rows' versions
// have too: extra_cards and controllers as space-separated lists (no
// controllers: every controller).
std::string card_value_definitions() {
    return std::string(
               " serial {text} NOT NULL, password {text} NOT NULL, user_style INTEGER NOT NULL,"
               " open_style INTEGER NOT NULL,") +
           kDayColumns + ", extra_cards {text} NOT NULL, controllers {text} NOT NULL";
}

// Their names, as a list.
constexpr const char* kCardValueNames =
    "serial, password, user_style, open_style, sunday, monday, tuesday, wednesday, thursday, friday,"
    " saturday, extra_cards, controllers";

}  // namespace

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
            std::string("CREATE TABLE cards (card {text} PRIMARY KEY,") + card_value_definitions() + ")",
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
        // 1 -> 2: what the long-running service keeps.
        {
            // Tokens by the SHA-256 of their text; role by name; times in ms
            // since the epoch, the database's clock; expires NULL: never.
            "CREATE TABLE tokens ("
            " name {text} PRIMARY KEY,"
            " role {text} NOT NULL,"
            " hash {text} NOT NULL UNIQUE,"
            " created BIGINT NOT NULL,"
            " expires BIGINT)",
            "CREATE TABLE audit ("
            " id {id},"
            " time BIGINT NOT NULL,"
            " who {text} NOT NULL,"
            " address {text} NOT NULL,"
            " action {text} NOT NULL,"
            " target {text} NOT NULL,"
            " result {text} NOT NULL,"
            " detail {text} NOT NULL)",
            "CREATE INDEX audit_time ON audit (time)",
            // data: the kind's fields as a JSON object; photo_sha256: the
            // photo the event names (NULL: none), so that retention keeps it.
            "CREATE TABLE events ("
            " id {id},"
            " at BIGINT NOT NULL,"
            " controller {text} NOT NULL,"
            " kind {text} NOT NULL,"
            " data {text} NOT NULL,"
            " photo_sha256 {text})",
            "CREATE INDEX events_controller ON events (controller, id)",
            "CREATE INDEX events_kind ON events (kind, id)",
            "CREATE INDEX events_at ON events (at)",
            "CREATE INDEX events_photo ON events (photo_sha256)",
            // Messages for MQTT, written with their events; published NULL
            // until the publisher has handed one to the broker.
            "CREATE TABLE outbox ("
            " id {id},"
            " created BIGINT NOT NULL,"
            " topic {text} NOT NULL,"
            " payload {text} NOT NULL,"
            " retained INTEGER NOT NULL,"
            " published BIGINT)",
            "CREATE INDEX outbox_pending ON outbox (id) WHERE published IS NULL",
            "CREATE INDEX outbox_created ON outbox (created)",
            // MQTT command ids seen, with when (ms, the caller's clock).
            "CREATE TABLE command_ids ("
            " id {text} PRIMARY KEY,"
            " seen BIGINT NOT NULL)",
            "CREATE INDEX command_ids_seen ON command_ids (seen)",
            "CREATE TABLE archive_runs ("
            " id {id},"
            " started BIGINT NOT NULL,"
            " owner {text} NOT NULL)",
            "CREATE TABLE archive_results ("
            " id {id},"
            " run BIGINT NOT NULL REFERENCES archive_runs (id),"
            " controller {text} NOT NULL,"
            " status {text} NOT NULL,"
            " records INTEGER NOT NULL,"
            " photos INTEGER NOT NULL,"
            " message {text} NOT NULL,"
            " UNIQUE (run, controller))",
            // Each controller's latest results.
            "CREATE INDEX archive_results_controller ON archive_results (controller, run)",
            "CREATE INDEX sync_results_controller ON sync_results (controller, run)",
            // When a pushed photo was stored (0 for one stored with its
            // records): retention spares it a while, until its event is in.
            "ALTER TABLE photos ADD COLUMN pushed BIGINT NOT NULL DEFAULT 0",
            "CREATE INDEX records_photo ON records (photo_sha256)",
        },
        // 2 -> 3: retention by the database's clock, retired numbers, and
        // commands that every instance sees.
        {
            // When a record was archived, ms since the epoch, the database's
            // clock: retention goes by it, never by the controller's clock.
            // Records stored before get the time of this upgrade, so that
            // none goes early.
            "ALTER TABLE records ADD COLUMN archived BIGINT NOT NULL DEFAULT 0",
            "UPDATE records SET archived = {now_ms}",
            "CREATE INDEX records_archived ON records (archived)",
            // The numbers of removed controllers: never given again unless
            // asked for, and the journal files left under one are imported
            // under the controller that had it (photos: whether its records
            // came with photos); retired: ms since the epoch.
            "CREATE TABLE retired_numbers ("
            " number INTEGER PRIMARY KEY,"
            " controller {text} NOT NULL,"
            " photos INTEGER NOT NULL,"
            " retired BIGINT NOT NULL)",
            // MQTT commands: stored by the instance that hears one, run by
            // the one that holds its controller's lease. (id, copy 0) is the
            // command of that id; a later publish of the id, and one its
            // hearer refused, is a further copy (1, 2, ...), answered at
            // once. fingerprint tells one publish from another (see
            // HeardCommand). seq: the order in which they were stored, the
            // order each controller's run in. received and claimed are ms
            // since the epoch by the database's clock ({now_ms}): instances
            // compare each other's, and one instance's own clock means
            // nothing to another. state: waiting, running (by runner, a
            // lease owner), done (answered). Rows done are forgotten after
            // the replay window.
            "CREATE TABLE commands ("
            " seq {id},"
            " id {text} NOT NULL,"
            " copy INTEGER NOT NULL,"
            " fingerprint {text} NOT NULL,"
            " controller {text} NOT NULL,"
            " verb {text} NOT NULL,"
            " door INTEGER NOT NULL,"
            " answer_topic {text} NOT NULL,"
            " correlation {blob},"
            " received BIGINT NOT NULL,"
            " state {text} NOT NULL,"
            " runner {text} NOT NULL DEFAULT '',"
            " claimed BIGINT,"
            " result {text} NOT NULL DEFAULT '',"
            " error {text} NOT NULL DEFAULT '',"
            " UNIQUE (id, copy))",
            "CREATE INDEX commands_state ON commands (state, controller, seq)",
            "CREATE INDEX commands_received ON commands (received)",
            "DROP TABLE command_ids",
            // An answer's MQTT 5 correlation data (NULL: none).
            "ALTER TABLE outbox ADD COLUMN correlation {blob}",
        },
        // 3 -> 4: sites, each with its time zone; every controller belongs
        // to one. The site main, which the controllers there were go to, is
        // made by initialise() in the zone it is given.
        {
            "CREATE TABLE sites ("
            " name {text} PRIMARY KEY,"
            " zone {text} NOT NULL,"
            " description {text} NOT NULL)",
            // No foreign key (SQLite adds none with a default): the store
            // checks the site under a row lock.
            "ALTER TABLE controllers ADD COLUMN site {text} NOT NULL DEFAULT 'main'",
            "CREATE INDEX controllers_site ON controllers (site)",
        },
        // 4 -> 5: the instant each record stands for. time stays the
        // controller's own local text; instant is what it means in the
        // zone of the controller's site (ms since the epoch, UTC), with
        // how the text mapped (local_kind: exact, ambiguous, nonexistent,
        // or invalid for a text that is no time: its archived time), and
        // the site and zone it was read in. initialise() stamps the
        // records stored before.
        {
            "ALTER TABLE records ADD COLUMN instant BIGINT NOT NULL DEFAULT 0",
            "ALTER TABLE records ADD COLUMN local_kind {text} NOT NULL DEFAULT 'exact'",
            "ALTER TABLE records ADD COLUMN site {text} NOT NULL DEFAULT ''",
            "ALTER TABLE records ADD COLUMN zone {text} NOT NULL DEFAULT ''",
            // Newest first, of all and of one controller.
            "CREATE INDEX records_instant ON records (instant, id)",
            "CREATE INDEX records_controller_instant ON records (controller, instant, id)",
        },
        // 5 -> 6: which sites the live instances of serve drive: each says
        // so again while it runs, until expires (ms since the epoch, the
        // database's clock); site '*' for an instance that drives every site.
        {
            "CREATE TABLE served_sites ("
            " owner {text} NOT NULL,"
            " site {text} NOT NULL,"
            " expires BIGINT NOT NULL,"
            " PRIMARY KEY (owner, site))",
        },
        // 6 -> 7: people, groups and schedules, saved together under one
        // policy revision (a single row, moved on by every save). Each value
        // keeps a row per version: from the revision that saved it (since)
        // to the one that changed or removed it (until; NULL for the saved
        // one), so that the policy of an earlier revision can be compiled
        // again; a version's grants, groups and cards carry its since.
        // Dates are "yyyy-mm-dd" as people write them, read in each
        // controller's site's zone; a day's ranges are minutes "from-to"
        // separated by commas. A grant names a site, or controllers
        // (space-separated) and no site. A card number is one person's at a
        // time. Each record keeps the person whose card it was when it was
        // archived (NULL: none), and whether that person was erased since.
        {
            "CREATE TABLE policy_revision ("
            " id INTEGER PRIMARY KEY,"
            " revision BIGINT NOT NULL)",
            "INSERT INTO policy_revision (id, revision) VALUES (1, 0)",
            std::string("CREATE TABLE schedules (name {text} NOT NULL, since BIGINT NOT NULL, until BIGINT,"
                        " holidays {text} NOT NULL,") +
                kDayColumns + ", PRIMARY KEY (name, since))",
            "CREATE TABLE holidays ("
            " site {text} NOT NULL,"
            " day {text} NOT NULL,"
            " since BIGINT NOT NULL,"
            " until BIGINT,"
            " yearly INTEGER NOT NULL,"
            " PRIMARY KEY (site, day, since))",
            "CREATE TABLE access_groups ("
            " name {text} NOT NULL,"
            " since BIGINT NOT NULL,"
            " until BIGINT,"
            " PRIMARY KEY (name, since))",
            "CREATE TABLE group_grants ("
            " group_name {text} NOT NULL,"
            " since BIGINT NOT NULL,"
            " seq INTEGER NOT NULL,"
            " schedule {text} NOT NULL,"
            " site {text} NOT NULL,"
            " controllers {text} NOT NULL,"
            " PRIMARY KEY (group_name, since, seq))",
            "CREATE TABLE people ("
            " id {text} NOT NULL,"
            " since BIGINT NOT NULL,"
            " until BIGINT,"
            " name {text} NOT NULL,"
            " email {text},"
            " notes {text} NOT NULL,"
            " active INTEGER NOT NULL,"
            " valid_from {text},"
            " valid_until {text},"
            " user_style INTEGER NOT NULL,"
            " open_style INTEGER NOT NULL,"
            " PRIMARY KEY (id, since))",
            "CREATE TABLE person_groups ("
            " person {text} NOT NULL,"
            " since BIGINT NOT NULL,"
            " seq INTEGER NOT NULL,"
            " group_name {text} NOT NULL,"
            " PRIMARY KEY (person, since, seq))",
            "CREATE TABLE person_cards ("
            " person {text} NOT NULL,"
            " since BIGINT NOT NULL,"
            " seq INTEGER NOT NULL,"
            " until BIGINT,"
            " card {text} NOT NULL,"
            " serial {text} NOT NULL,"
            " password {text} NOT NULL,"
            " PRIMARY KEY (person, since, seq))",
            "CREATE UNIQUE INDEX person_cards_holder ON person_cards (card) WHERE until IS NULL",
            "CREATE INDEX schedules_saved ON schedules (name) WHERE until IS NULL",
            "CREATE INDEX holidays_saved ON holidays (site, day) WHERE until IS NULL",
            "CREATE INDEX access_groups_saved ON access_groups (name) WHERE until IS NULL",
            "CREATE INDEX people_saved ON people (id) WHERE until IS NULL",
            "ALTER TABLE records ADD COLUMN person {text}",
            "ALTER TABLE records ADD COLUMN person_erased INTEGER NOT NULL DEFAULT 0",
            "CREATE INDEX records_person ON records (person)",
        },
        // 7 -> 8: what the controllers were sent of the policy, and card
        // rows with their history. Each controller compiles the policy of
        // its applied revision; verified_*: the state a read-back last
        // confirmed (NULL: not known). A plan keeps what an apply was
        // worked out on; at_ms and made_ms are ms since the epoch, made_ms
        // and applied_ms by the database's clock. Work requests go from the
        // command line to serve: taken_by NULL until an instance takes one,
        // result NULL until it is done. Card rows keep a version per change
        // as the policy's values do (since, until); the controllers and
        // cards there are get the revision of the upgrade.
        {
            "CREATE TABLE controller_policy ("
            " controller {text} PRIMARY KEY,"
            " applied BIGINT NOT NULL,"
            " verified_revision BIGINT,"
            " verified_leavers BIGINT,"
            " verified_at BIGINT)",
            "INSERT INTO controller_policy (controller, applied)"
            " SELECT name, (SELECT revision FROM policy_revision WHERE id = 1) FROM controllers",
            "CREATE TABLE plans ("
            " id {id},"
            " revision BIGINT NOT NULL,"
            " at_ms BIGINT NOT NULL,"
            " at_given INTEGER NOT NULL,"
            " made_ms BIGINT NOT NULL,"
            " made_by {text} NOT NULL,"
            " applied_ms BIGINT,"
            " applied_by {text} NOT NULL DEFAULT '')",
            "CREATE TABLE plan_controllers ("
            " plan BIGINT NOT NULL REFERENCES plans (id),"
            " controller {text} NOT NULL,"
            " verified_revision BIGINT,"
            " verified_leavers BIGINT,"
            " verified_at BIGINT,"
            " changes INTEGER NOT NULL,"
            " PRIMARY KEY (plan, controller))",
            "CREATE TABLE work_requests ("
            " id {id},"
            " kind {text} NOT NULL,"
            " arguments {text} NOT NULL,"
            " requested_by {text} NOT NULL,"
            " requested_ms BIGINT NOT NULL,"
            " taken_by {text},"
            " taken_ms BIGINT,"
            " result {text},"
            " done_ms BIGINT)",
            "CREATE INDEX work_requests_waiting ON work_requests (id) WHERE taken_by IS NULL",
            std::string(
                "CREATE TABLE card_versions (card {text} NOT NULL, since BIGINT NOT NULL, until BIGINT,") +
                card_value_definitions() + ", PRIMARY KEY (card, since))",
            std::string("INSERT INTO card_versions (card, since, ") + kCardValueNames +
                ") SELECT card, (SELECT revision FROM policy_revision WHERE id = 1), " + kCardValueNames +
                " FROM cards",
        },
        // 8 -> 9: each card's newest record found at the end of its part of
        // an index, for the cards that opened nothing for a while.
        {
            "CREATE INDEX records_card_instant ON records (card, instant)",
        },
        // 9 -> 10: the controllers a card row names as rows, in their order
        // (seq), for the row and for each of its versions, so that the cards
        // of one controller are read without the others'; a row that names
        // none goes to every controller and is marked so. The upgrade moves
        // the names there (move_card_controllers_to_rows) and drops the
        // columns controllers. And each controller's lossy: its exchanges
        // wait for replies adaptively (see library/doorlink_library.h).
        {
            "CREATE TABLE card_controllers ("
            " card {text} NOT NULL,"
            " seq INTEGER NOT NULL,"
            " controller {text} NOT NULL,"
            " PRIMARY KEY (card, seq))",
            "CREATE INDEX card_controllers_controller ON card_controllers (controller, card)",
            "CREATE TABLE card_version_controllers ("
            " card {text} NOT NULL,"
            " since BIGINT NOT NULL,"
            " seq INTEGER NOT NULL,"
            " controller {text} NOT NULL,"
            " PRIMARY KEY (card, since, seq))",
            "CREATE INDEX card_version_controllers_controller ON card_version_controllers (controller, "
            "since)",
            "ALTER TABLE cards ADD COLUMN every_controller INTEGER NOT NULL DEFAULT 0",
            "ALTER TABLE card_versions ADD COLUMN every_controller INTEGER NOT NULL DEFAULT 0",
            "CREATE INDEX cards_every_controller ON cards (card) WHERE every_controller = 1",
            "CREATE INDEX card_versions_every_controller ON card_versions (card, since) WHERE "
            "every_controller = 1",
            "ALTER TABLE controllers ADD COLUMN lossy INTEGER NOT NULL DEFAULT 0",
        },
    };
    return steps;
}

// NOLINTEND(bugprone-suspicious-missing-comma)

}  // namespace doorlinkd
