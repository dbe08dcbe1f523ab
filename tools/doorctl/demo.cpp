// doorctl demo: a simulated controller on loopback, and every workflow the
// library has so far run against it, step by step.
#include <iostream>

#include "cli.h"
#include "doorsim/simulator.h"

namespace doorctl {
namespace {

int run_demo(const std::vector<DemoStep>& steps, bool verbose) {
    doorsim::Simulator sim;
    int id;
    try {
        id = sim.add_controller({});
    } catch (const std::exception& e) {
        fail(std::string("cannot start the simulated controller: ") + e.what());
        return 1;
    }
    if (verbose) sim.set_log(&std::cout);
    sim.start();
    DemoContext context{sim.address(id), sim.mac_text(id), &sim, id};
    std::cout << "simulated controller at " << context.address << ":9000, MAC " << context.mac
              << "\n";
    int number = 0;
    for (const DemoStep& step : steps) {
        std::cout << "\n[" << ++number << "/" << steps.size() << "] " << step.title << "\n";
        if (!step.run(context)) {
            fail("demo step failed: " + step.title);
            return 1;
        }
    }
    std::cout << "\ndemo finished: " << steps.size() << " steps passed\n";
    return 0;
}

}  // namespace

void add_demo_command(CLI::App& app, const std::vector<DemoStep>& demo) {
    auto* command = app.add_subcommand(
        "demo", "start a simulated controller on loopback and run every workflow against it");
    auto verbose = std::make_shared<bool>(false);
    command->add_flag("-v,--verbose", *verbose, "print every datagram in hex");
    command->callback([&demo, verbose] { run_demo(demo, *verbose); });
}

}  // namespace doorctl
