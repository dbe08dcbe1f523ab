// doorlinkd: keeps a fleet of controllers' cards in step with a database and
// archives their records and photos. See `doorlinkd --help`.
#include <signal.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "cards/card_rules.h"
#include "cli/apply_command_line.h"
#include "cli/commands.h"
#include "cli/hand_over.h"
#include "cli/policy_command_line.h"
#include "cli/runtime.h"
#include "leases/lease_keeper.h"
#include "library/doorlink_library.h"
#include "serve/serve_config.h"
#include "zones/host_zone.h"
#include "zones/instant_text.h"
#include "zones/policy_clock.h"

namespace doorlinkd {
namespace {

const char* const kFooter =
    "Exit status: 0 success; 1 a controller did not answer; 2 a usage error or refused\n"
    "input; 3 a local file or database error; 4 drift remains; 5 a controller (or the\n"
    "data directory) busy with another process. When several apply, the smallest\n"
    "non-zero one.";

struct Options {
    std::string config;
    std::string dataDir = "./doorlink-data";
    std::string db;
    std::vector<int> portRange;
    bool json = false;
    int parallel = 16;
    int leaseSeconds = 30;
};

// The first line of standard input, without its line end.
std::string password_from_stdin() {
    std::string line;
    if (!std::getline(std::cin, line) && line.empty())
        throw Refused("--password-stdin: standard input is empty");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Prints the outcome: with asJson the JSON object on standard output, else
// its lines (on standard error when the command failed with an "error").
void emit(const Outcome& outcome, bool asJson) {
    if (asJson) {
        // Texts echo input, which may be no UTF-8: such bytes are replaced, never thrown over.
        std::cout << outcome.json.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
        return;
    }
    std::ostream& out = outcome.json.contains("error") ? std::cerr : std::cout;
    for (const std::string& line : outcome.lines) out << line << '\n';
    out.flush();
}

}  // namespace
}  // namespace doorlinkd

// The failures of a command are caught below; an exception that none of the
// catches takes is a bug, which std::terminate reports.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    using namespace doorlinkd;
    // Everything doorlinkd makes is its user's alone: the database, the
    // library's list files and the card export hold every card's PIN. A
    // photo written for the user gets the mode the user's umask gives. (A
    // command that drives controllers runs itself again, and finds 077 then;
    // it writes no file for the user.)
    const mode_t userUmask = ::umask(077);
    CLI::App app{
        "doorlinkd: keeps the cards of a fleet of door controllers in step with a database,\n"
        "verified by reading every controller's list back, and archives their records and\n"
        "photos exactly once."};
    app.set_version_flag("--version", "doorlinkd " DOORLINK_VERSION, "print the version and exit");
    app.footer(kFooter);
    app.require_subcommand(1);
    Options o;
    app.add_option("--config", o.config,
                   "a TOML file of settings: the global options and serve's, with '_' for '-' (the\n"
                   "command line wins over it)")
        ->check(CLI::ExistingFile);
    auto* dataDirOption = app.add_option("--data-dir", o.dataDir,
                                         "the library's data files (the journal of retrievals among them)")
                              ->capture_default_str();
    app.add_option("--db", o.db, "sqlite:PATH (default sqlite:DATA-DIR/doorlink.db) or a PostgreSQL URI")
        ->envname("DOORLINKD_DB");
    app.add_option("--port-range", o.portRange, "bind local UDP ports within START END (a firewall's range)")
        ->expected(2)
        ->check(CLI::Range(0, 65535));
    app.add_flag("--json", o.json, "print one JSON object");
    auto* parallelOption =
        app.add_option("--parallel", o.parallel, "controllers driven at once (sync, archive)")
            ->check(CLI::Range(1, 256))
            ->capture_default_str();
    auto* leaseOption = app.add_option("--lease-seconds", o.leaseSeconds,
                                       "how long a controller's lease lasts unless renewed")
                            ->check(CLI::Range(1, 3600))
                            ->capture_default_str();

    auto* init = app.add_subcommand("init", "create the database's schema, or upgrade it");
    std::string initZone;
    init->add_option("--time-zone", initZone,
                     "the IANA time zone (e.g. Europe/Berlin) of the site main, made when the schema gets "
                     "its sites (default: the time_zone of the configuration file, else the host's)");

    auto* controller = app.add_subcommand("controller", "the fleet's controllers")->require_subcommand(1);
    ControllerAddArgs addArgs;
    int number = -1;
    auto* controllerAdd = controller->add_subcommand("add", "add a controller");
    controllerAdd->add_option("NAME", addArgs.name, "1 to 32 letters, digits, '-', '_', '.'")->required();
    controllerAdd->add_option("ADDRESS", addArgs.address, "dotted IPv4 address")->required();
    controllerAdd->add_option("MAC", addArgs.mac, "12 hexadecimal digits")->required();
    auto* numberOption = controllerAdd->add_option(
        "--number", number,
        "number in record and photo file names, 0 to 999 (default: the lowest from 1 that no controller "
        "has or had)");
    controllerAdd
        ->add_flag("--reuse-number", addArgs.reuseNumber,
                   "take the --number of a removed controller: journal files left under it on any instance "
                   "are then imported as this controller's records")
        ->needs(numberOption);
    controllerAdd->add_flag("--long", addArgs.longRecords, "long card records (ten further cards per card)");
    controllerAdd->add_flag("--no-photos", addArgs.noPhotos, "retrieve records without photos");
    controllerAdd->add_flag("--lossy", addArgs.lossy,
                            "on a network that loses datagrams: resend on a wait that adapts to its replies");
    controllerAdd->add_option("--site", addArgs.site, "the site it belongs to (default: the only site)");
    std::string setName;
    ControllerChange setChange;
    auto* controllerSet = controller->add_subcommand("set", "change a controller");
    controllerSet->add_option("NAME", setName)->required();
    controllerSet->add_option("--site", setChange.site, "move it to another site");
    auto* setLossy = controllerSet->add_flag(
        "--lossy", "on a network that loses datagrams: resend on a wait that adapts to its replies");
    auto* setNotLossy = controllerSet->add_flag("--no-lossy", "resend on the library's fixed wait again");
    setLossy->excludes(setNotLossy);
    auto* controllerList = controller->add_subcommand("list", "list the controllers");
    std::string removeName;
    auto* controllerRemove =
        controller->add_subcommand("remove",
                                   "remove a controller (refused while a card names only it); its number is "
                                   "retired: its journal files are still imported under its name");
    controllerRemove->add_option("NAME", removeName)->required();

    auto* site = app.add_subcommand("site", "the sites, each with its time zone")->require_subcommand(1);
    Site siteArgs;
    std::optional<std::string> siteZone, siteDescription;
    auto* siteAdd = site->add_subcommand("add", "add a site");
    siteAdd->add_option("NAME", siteArgs.name, "1 to 32 letters, digits, '-', '_', '.'")->required();
    siteAdd->add_option("--zone", siteArgs.zone, "its IANA time zone, e.g. Europe/Berlin")->required();
    siteAdd->add_option("--description", siteArgs.description);
    auto* siteList = site->add_subcommand("list", "list the sites");
    auto* siteSet = site->add_subcommand("set", "change a site's zone or description");
    siteSet->add_option("NAME", siteArgs.name)->required();
    siteSet->add_option("--zone", siteZone, "its IANA time zone");
    siteSet->add_option("--description", siteDescription);
    auto* siteRemove =
        site->add_subcommand("remove", "remove a site (refused while controllers belong to it)");
    siteRemove->add_option("NAME", siteArgs.name)->required();

    PolicyCommandLine policyLine(app);
    ApplyCommandLine applyLine(app);

    auto* card = app.add_subcommand("card", "the cards (rows kept beside people)")->require_subcommand(1);
    std::string file;
    bool replace = false;
    auto* cardImport =
        card->add_subcommand("import", "add and update cards from a CSV file (all rows checked first)");
    cardImport->add_option("FILE", file, "CSV file with the header line")->required();
    cardImport->add_flag("--replace", replace, "the file becomes the whole set of cards");
    auto* cardExport = card->add_subcommand("export", "write every card to a CSV file");
    cardExport->add_option("FILE", file)->required();
    CardFields fields;
    std::vector<std::string> fieldTexts(fields.size());
    std::vector<CLI::Option*> fieldOptions(fields.size(), nullptr);
    auto* cardSet = card->add_subcommand("set", "add or change one card; options as the CSV columns");
    fieldOptions[0] = cardSet->add_option("CARD", fieldTexts[0], "8 digits")->required();
    for (size_t i = 1; i < fields.size(); ++i) {
        std::string column = kCardColumns[i];
        std::string dashed = column;
        std::replace(dashed.begin(), dashed.end(), '_', '-');
        std::string names = "--" + dashed + (dashed != column ? ",--" + column : "");
        const std::string help = i == kPasswordColumn
                                     ? "the password (PIN) column; other users see it in the process list: "
                                       "prefer --password-stdin"
                                     : "the " + column + " column";
        fieldOptions[i] = cardSet->add_option(names, fieldTexts[i], help);
    }
    bool passwordStdin = false;
    cardSet
        ->add_flag("--password-stdin", passwordStdin,
                   "read the password (PIN) from the first line of standard input, out of the process list")
        ->excludes(fieldOptions[kPasswordColumn]);
    std::string removeCard;
    auto* cardRemove = card->add_subcommand("remove", "remove a card");
    cardRemove->add_option("CARD", removeCard)->required();

    DriveArgs drive;
    auto* sync = app.add_subcommand(
        "sync", "read every controller's list back, compare it with the database and repair it");
    sync->add_option("NAME", drive.names, "controllers (default: all)");
    sync->add_flag("--check", drive.checkOnly, "read back and compare only");
    auto* archive = app.add_subcommand("archive", "store the controllers' records and photos");
    archive->add_option("NAME", drive.names, "controllers (default: all)");

    RecordQuery query;
    auto* records = app.add_subcommand("records", "list stored records, newest first");
    records->add_option("--controller", query.controller);
    records->add_option("--card", query.card);
    std::string since;
    records->add_option("--since", since,
                        "records at or after an instant, ISO 8601 with its offset or Z\n"
                        "(2026-12-08T09:00:00+01:00, 2026-12-08T08:00:00Z); or yyyymmddhhmmss, by each\n"
                        "record's own local time whatever its zone");
    records->add_option("--limit", query.limit)->check(CLI::NonNegativeNumber);

    auto* photo = app.add_subcommand("photo", "stored photos")->require_subcommand(1);
    std::string sha256;
    auto* photoGet = photo->add_subcommand("get", "write a stored photo to a file");
    photoGet->add_option("SHA256", sha256)->required();
    photoGet->add_option("FILE", file)->required();

    auto* token =
        app.add_subcommand("token", "API tokens (each shown once, when made)")->require_subcommand(1);
    TokenAddArgs tokenArgs;
    auto* tokenAdd = token->add_subcommand("add", "make a token and print it once");
    tokenAdd->add_option("NAME", tokenArgs.name, "1 to 64 letters, digits, '-', '_', '.', '@'")->required();
    tokenAdd->add_option("--role", tokenArgs.role, "viewer, operator or admin")->required();
    tokenAdd->add_option("--expires", tokenArgs.expiresDays, "days until it expires (default: never)")
        ->check(CLI::Range(1, 36500));
    auto* tokenList = token->add_subcommand("list", "list the tokens (never their texts)");
    std::string revokeName;
    auto* tokenRevoke = token->add_subcommand("revoke", "remove a token");
    tokenRevoke->add_option("NAME", revokeName)->required();

    auto* backup = app.add_subcommand("backup", "copy a SQLite database, online, to a new file");
    backup->add_option("FILE", file)->required();

    auto* serve = app.add_subcommand(
        "serve",
        "run as a service: REST API and web page, schedules of sync and archive, monitoring\n"
        "of the controllers' pushed error reports and photos, their clocks, MQTT; until\n"
        "SIGTERM or SIGINT");
    const ServeCommandLine serveLine(*serve);

    for (CLI::App* sub : {init,          controller, controllerAdd, controllerList, controllerRemove,
                          controllerSet, site,       siteAdd,       siteList,       siteSet,
                          siteRemove,    card,       cardImport,    cardExport,     cardSet,
                          cardRemove,    sync,       archive,       records,        photo,
                          photoGet,      token,      tokenAdd,      tokenList,      tokenRevoke,
                          backup,        serve}) {
        sub->fallthrough();
    }
    for (CLI::App* sub : policyLine.commands()) sub->fallthrough();
    for (CLI::App* sub : applyLine.commands()) sub->fallthrough();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        if (!o.json) {
            (void)app.exit(e);
            return kRefused;
        }
        emit(failure(kRefused, e.what()), true);
        return kRefused;
    }

    // serve takes its stop signals with sigwait: blocked before any thread
    // starts, every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (serve->parsed()) pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Outcome outcome;
    try {
        // The global options the command line did not give come from the
        // configuration file.
        ConfigValues given = serve->parsed() ? serveLine.given() : ConfigValues{};
        if (dataDirOption->count() > 0) given["data_dir"] = o.dataDir;
        if (!o.db.empty()) given["db"] = o.db;
        if (parallelOption->count() > 0) given["parallel"] = std::to_string(o.parallel);
        if (leaseOption->count() > 0) given["lease_seconds"] = std::to_string(o.leaseSeconds);
        const ServeOptions settings = merge_serve_options(
            o.config.empty() ? ConfigValues{} : read_config_file(o.config),
            serve->parsed() || init->parsed() ? environment_values(std::getenv) : ConfigValues{}, given,
            host_name());
        o.dataDir = settings.dataDir;
        o.db = settings.db;
        o.parallel = settings.parallel;
        o.leaseSeconds = settings.leaseSeconds;

        // sync, apply and disable drive the controllers themselves only while
        // no serve holds them; archive and serve always do.
        const bool mayHandOver = sync->parsed() || applyLine.drives();
        const bool drives = archive->parsed() || serve->parsed() || mayHandOver;
        query.since = record_bound("--since", since);
        std::string dataDir;
        std::unique_ptr<DataDirLock> lock;
        if (drives || o.db.empty()) dataDir = prepare_data_dir(o.dataDir, std::cerr);
        if (drives) use_data_dir_for_library(dataDir, argv);
        const auto holdDataDir = [&](const char* command) {
            lock = std::make_unique<DataDirLock>(dataDir, command);
            if (!o.portRange.empty() && !library::set_port_range(o.portRange[0], o.portRange[1])) {
                throw Refused("--port-range: START and END within 0 to 65535");
            }
        };
        if (archive->parsed() || serve->parsed()) holdDataDir(archive->parsed() ? "archive" : "serve");
        // The policy's clock is read once, in the process that runs the
        // command (after the run again above): a test's clock that is
        // malformed refuses the start.
        (void)policy_now_ms();
        const std::string location = o.db.empty() ? "sqlite:" + dataDir + "/doorlink.db" : o.db;
        // init makes a new SQLite database where it is told, directory and all.
        if (init->parsed() && location.rfind("sqlite:", 0) == 0) {
            const std::filesystem::path directory = std::filesystem::path(location.substr(7)).parent_path();
            std::error_code error;
            if (!directory.empty()) std::filesystem::create_directories(directory, error);
            if (error) throw StoreError("cannot make " + directory.string() + ": " + error.message());
        }
        std::unique_ptr<Store> store = Store::open(location);
        if (!init->parsed()) store->require_schema();
        const bool handOver = mayHandOver && serve_is_live(*store);
        if (mayHandOver && !handOver) holdDataDir(sync->parsed() ? "sync" : "apply");
        drive.parallel = o.parallel;
        drive.leaseSeconds = o.leaseSeconds;
        drive.owner = lease_owner_name();
        if (init->parsed()) {
            // The site main's zone: init's own, else serve's setting, else the host's.
            // NOLINTNEXTLINE(concurrency-mt-unsafe): no other thread runs yet
            const std::string hostZone = host_time_zone(std::getenv("TZ"));
            outcome = init_command(*store, !initZone.empty()            ? initZone
                                           : !settings.timeZone.empty() ? settings.timeZone
                                                                        : hostZone);
        } else if (controllerAdd->parsed()) {
            if (!numberOption->empty()) addArgs.number = number;
            outcome = controller_add(*store, addArgs);
        } else if (controllerList->parsed()) {
            outcome = controller_list(*store);
        } else if (controllerRemove->parsed()) {
            outcome = controller_remove(*store, removeName);
        } else if (controllerSet->parsed()) {
            if (!setLossy->empty() || !setNotLossy->empty()) setChange.lossy = !setLossy->empty();
            outcome = controller_set_command(*store, setName, setChange);
        } else if (siteAdd->parsed()) {
            outcome = site_add_command(*store, siteArgs);
        } else if (siteList->parsed()) {
            outcome = site_list(*store);
        } else if (siteSet->parsed()) {
            outcome = site_set_command(*store, siteArgs.name, siteZone, siteDescription);
        } else if (siteRemove->parsed()) {
            outcome = site_remove_command(*store, siteArgs.name);
        } else if (applyLine.parsed()) {
            outcome = applyLine.run(*store, DataDir(dataDir), drive, handOver);
        } else if (policyLine.parsed()) {
            outcome = policyLine.run(*store);
        } else if (cardImport->parsed()) {
            outcome = card_import(*store, file, replace);
        } else if (cardExport->parsed()) {
            outcome = card_export(*store, file);
        } else if (cardSet->parsed()) {
            for (size_t i = 0; i < fields.size(); ++i) {
                if (!fieldOptions[i]->empty()) fields[i] = fieldTexts[i];
            }
            if (passwordStdin) fields[kPasswordColumn] = password_from_stdin();
            outcome = card_set(*store, fields);
        } else if (cardRemove->parsed()) {
            outcome = card_remove(*store, removeCard);
        } else if (sync->parsed()) {
            outcome =
                handOver ? sync_handed_over(*store, drive) : sync_command(*store, DataDir(dataDir), drive);
        } else if (archive->parsed()) {
            outcome = archive_command(*store, DataDir(dataDir), drive);
        } else if (records->parsed()) {
            outcome = records_command(*store, query);
        } else if (photoGet->parsed()) {
            outcome = photo_get(*store, sha256, file, 0666 & ~userUmask);
        } else if (tokenAdd->parsed()) {
            outcome = token_add(*store, tokenArgs);
        } else if (tokenList->parsed()) {
            outcome = token_list(*store);
        } else if (tokenRevoke->parsed()) {
            outcome = token_revoke(*store, revokeName);
        } else if (backup->parsed()) {
            outcome = backup_command(*store, file);
        } else if (serve->parsed()) {
            ServeOptions serving = settings;
            serving.dataDir = dataDir;
            serving.db = location;
            return serve_command(*store, DataDir(dataDir), serving, stopSignals);
        }
    } catch (const std::exception& e) {
        outcome = outcome_of_failure(e);
    }
    emit(outcome, o.json);
    return outcome.code;
}
