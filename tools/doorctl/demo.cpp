// doorctl demo: a simulated controller on loopback, and every workflow the
// library has so far run against it, step by step.
#include <iostream>

#include "cli.h"
#include "doorsim/simulator.h"

namespace doorctl {
namespace {

// Runs the steps; the text form shows each step's results as they come,
// --json one object with every step and its results.
Result run_demo(const std::vector<DemoStep>& steps, bool verbose) {
    doorsim::Simulator sim;
    int id;
    try {
        id = sim.add_controller({});
    } catch (const std::exception& e) {
        return Result::failure(kNotConfirmed,
                               std::string("cannot start the simulated controller: ") + e.what());
    }
    if (verbose) sim.set_log(json_output() ? &std::cerr : &std::cout);
    sim.start();
    DemoContext context{sim.address(id), sim.mac_text(id), &sim, id};
    note("simulated controller at " + context.address + ":9000, MAC " + context.mac + "\n");
    Json done = Json::array();
    Collector collector;
    for (const DemoStep& step : steps) {
        note("\n[" + std::to_string(done.size() + 1) + "/" + std::to_string(steps.size()) + "] " +
             step.title + "\n");
        const bool passed = step.run(context);
        done.push_back({{"title", step.title}, {"passed", passed}, {"results", collector.take()}});
        if (!passed) {
            return Result::failure(kNotConfirmed, "demo step failed: " + step.title)
                .set("address", context.address)
                .set("mac", context.mac)
                .set("steps", done);
        }
    }
    return Result()
        .set("address", context.address)
        .set("mac", context.mac)
        .set("passed", steps.size())
        .set("steps", done)
        .line("\ndemo finished: {passed} steps passed");
}

}  // namespace

void add_demo_command(CLI::App& app, const std::vector<DemoStep>& demo) {
    auto* command = app.add_subcommand(
        "demo", "start a simulated controller on loopback and run every workflow against it");
    auto verbose = std::make_shared<bool>(false);
    command->add_flag("-v,--verbose", *verbose, "print every datagram in hex");
    command->callback([&demo, verbose] { emit(run_demo(demo, *verbose)); });
}

}  // namespace doorctl
