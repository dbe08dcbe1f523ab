// What the doorctl subcommands share: the controller a command talks to, the
// results they print, and the demo's steps.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>
#include "doorsim/simulator.h"
#include "output.h"

namespace doorctl {

// The controller a subcommand talks to: its address and MAC text.
struct Target {
    std::string address;
    std::string mac;
};

// ADDRESS and MAC as the first two positional arguments of a subcommand.
void add_target(CLI::App* command, Target& target);

// A failure of the export `exportName` against the controller: the reason,
// with the export, the address and (when given) the MAC as fields.
Result not_confirmed(const std::string& exportName, const Target& target, const std::string& reason);

// One step of `doorctl demo`, run against the embedded simulated controller.
struct DemoContext {
    std::string address;
    std::string mac;
    doorsim::Simulator* sim = nullptr;  // the embedded controller, to show what it holds
    int id = 0;
};
struct DemoStep {
    std::string title;
    std::function<bool(DemoContext&)> run;
};

// Command families; each adds its subcommands and its demo steps.
void add_time_commands(CLI::App& app, std::vector<DemoStep>& demo);
void add_door_commands(CLI::App& app, std::vector<DemoStep>& demo);
void add_reader_commands(CLI::App& app, std::vector<DemoStep>& demo);
void add_framed_commands(CLI::App& app, std::vector<DemoStep>& demo);
void add_card_commands(CLI::App& app, std::vector<DemoStep>& demo);
void add_device_commands(CLI::App& app, std::vector<DemoStep>& demo);
void add_records_commands(CLI::App& app, std::vector<DemoStep>& demo);

void add_demo_command(CLI::App& app, const std::vector<DemoStep>& demo);

}  // namespace doorctl
