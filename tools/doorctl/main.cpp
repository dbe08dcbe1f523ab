// doorctl: the doorlink library from the command line.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "cli.h"
#include "doorlink/doorlink.h"

// The failures of a command are caught below; an exception that none of the
// catches takes is a bug, which std::terminate reports.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    CLI::App app{
        "doorctl: talk to door access controllers through the doorlink library.\n"
        "Data files live in the library's module directory: $DOORLINK_HOME, or the\n"
        "directory of this executable."};
    app.set_version_flag("--version", "doorctl " DOORLINK_VERSION, "print the version and exit");
    app.require_subcommand(1);
    // Options of doorctl itself may also follow the subcommand.
    app.fallthrough();
    app.footer(doorctl::kExitCodeHelp);
    std::vector<int> portRange;
    app.add_option("--port-range", portRange, "bind local sockets within START END")
        ->expected(2)
        ->each([](const std::string&) {});
    int adaptiveWaitMs = 0;
    CLI::Option* adaptiveWait =
        app.add_option("--adaptive-wait", adaptiveWaitMs,
                       "on a lossy link, send queries and read-back requests again after a timeout measured "
                       "from round trips, at least MS milliseconds (1..2000), not after 2 s");
    app.parse_complete_callback([&] {
        if (portRange.size() == 2 && SetPortRange(portRange[0], portRange[1]) != 1) {
            throw CLI::ValidationError("--port-range", "each bound must lie within 0..65535");
        }
        if (adaptiveWait->count() > 0 && SetAdaptiveWait(nullptr, adaptiveWaitMs) != 1) {
            throw CLI::ValidationError("--adaptive-wait", "the bound must lie within 0..2000");
        }
    });
    // Known before parsing, so that a usage error is reported as JSON too.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) doorctl::set_json_output(true);
    }
    app.add_flag("--json", "print each result as one JSON object (monitor: one line per event)");

    static std::vector<doorctl::DemoStep> demo;
    doorctl::add_time_commands(app, demo);
    doorctl::add_door_commands(app, demo);
    doorctl::add_reader_commands(app, demo);
    doorctl::add_framed_commands(app, demo);
    doorctl::add_card_commands(app, demo);
    doorctl::add_device_commands(app, demo);
    doorctl::add_records_commands(app, demo);
    doorctl::add_demo_command(app, demo);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help is a success; every other parse error is a usage error.
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
        if (!doorctl::json_output()) {
            app.exit(e);
            return doorctl::kUsageError;
        }
        doorctl::emit(doorctl::Result::failure(doorctl::kUsageError, e.what()));
        return doorctl::kUsageError;
    } catch (const std::exception& e) {
        doorctl::emit(doorctl::Result::failure(doorctl::kNotConfirmed, e.what()));
    }
    return doorctl::exit_status();
}
