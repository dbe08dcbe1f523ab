// doorctl: the doorlink library from the command line.
#include <iostream>
#include <string>

#include "cli.h"
#include "doorlink/doorlink.h"

int main(int argc, char** argv) {
    CLI::App app{
        "doorctl: talk to door access controllers through the doorlink library.\n"
        "Data files live in the library's module directory: $DOORLINK_HOME, or the\n"
        "directory of this executable."};
    app.require_subcommand(1);
    std::vector<int> portRange;
    app.add_option("--port-range", portRange, "bind local sockets within START END")
        ->expected(2)
        ->each([](const std::string&) {});
    app.parse_complete_callback([&] {
        if (portRange.size() == 2 && SetPortRange(portRange[0], portRange[1]) != 1) {
            throw CLI::ValidationError("--port-range", "each bound must lie within 0..65535");
        }
    });

    static std::vector<doorctl::DemoStep> demo;
    doorctl::add_time_commands(app, demo);
    doorctl::add_door_commands(app, demo);
    doorctl::add_reader_commands(app, demo);
    doorctl::add_framed_commands(app, demo);
    doorctl::add_card_commands(app, demo);
    doorctl::add_device_commands(app, demo);
    doorctl::add_records_commands(app, demo);
    doorctl::add_demo_command(app, demo);

    CLI11_PARSE(app, argc, argv);
    return doorctl::exit_status();
}
