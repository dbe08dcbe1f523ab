#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <future>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "cli/commands.h"
#include "cli/runtime.h"
#include "serve/service.h"

namespace doorlinkd {
namespace {

// From the stop signal to the end of the process, some of the 5 s a
// service manager may wait before it kills.
constexpr auto kStopBound = std::chrono::milliseconds(3500);
// Past this, whatever still runs (a broker that does not answer the
// goodbye, a command amid its export) is left to end with the process: the
// broker tells the last will, the journal and the outbox keep the rest.
constexpr auto kHardBound = std::chrono::milliseconds(4500);

// Each HTTP connection and event stream holds a file, each controller's
// monitoring a socket: the soft limit (often 1024) is raised as far as the
// hard one allows.
void raise_open_file_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        std::cerr << "doorlinkd: the open-file limit stays as it was" << std::endl;
    }
}

// A time zone given to serve is the site main's only as `init` made it:
// told once when the site has another.
void tell_zone_of_main(Store& store, const std::string& timeZone) {
    if (timeZone.empty()) return;
    const std::optional<Site> main = store.site(kMainSite);
    if (main && main->zone == timeZone) return;
    std::cerr << "doorlinkd: time_zone (--time-zone) " << timeZone
              << " is only the zone init gives the site main, ";
    if (main) {
        std::cerr << "which keeps " << main->zone << " (`doorlinkd site set main --zone " << timeZone
                  << "` changes it)";
    } else {
        std::cerr << "and there is no site main";
    }
    std::cerr << "; each controller's clock keeps its own site's zone" << std::endl;
}

}  // namespace

int serve_command(Store& store, const DataDir& dataDir, const ServeOptions& options,
                  const sigset_t& stopSignals) {
    raise_open_file_limit();
    tell_zone_of_main(store, options.timeZone);
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
    std::promise<void> stopped;
    std::thread watchdog([done = stopped.get_future()] {
        if (done.wait_for(kHardBound) == std::future_status::ready) return;
        std::cerr << "doorlinkd: the stop took too long; the process ends" << std::endl;
        std::cout.flush();
        std::_Exit(0);
    });
    watchdog.detach();
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
    stopped.set_value();
    return 0;
}

}  // namespace doorlinkd
