#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/runtime.h"
#include "serve/service.h"

namespace doorlinkd {
namespace {

// From the stop signal to the end of the process, some of the 5 s a
// service manager may wait before it kills.
constexpr auto kStopBound = std::chrono::milliseconds(3500);

}  // namespace

int serve_command(Store& store, const DataDir& dataDir, const ServeOptions& options,
                  const sigset_t& stopSignals) {
    auto service = std::make_unique<Service>(store, dataDir, options, lease_owner_name(options.instance));
    const std::string url = service->start();
    nlohmann::ordered_json ready;
    ready["http"] = url;
    ready["instance"] = options.instance;
    std::cout << ready.dump() << std::endl;

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    std::cerr << "doorlinkd: stopping (" << (signal == SIGINT ? "SIGINT" : "SIGTERM") << ")" << std::endl;
    if (!service->stop(std::chrono::steady_clock::now() + kStopBound)) {
        // An export still runs and cannot be cut short: the process ends
        // around it. What it fetched is in the journal, imported at the next
        // start; its controller's lease expires.
        std::cerr << "doorlinkd: an export was still running at the stop; the process ends without it"
                  << std::endl;
        std::cout.flush();
        std::_Exit(0);
    }
    service.reset();
    return 0;
}

}  // namespace doorlinkd
