// Everything `doorlinkd serve` runs, built in one place: the fleet and its
// runs, the leases of the controllers it serves, their monitoring, the
// schedule, the runner of the MQTT commands for the controllers it holds
// (whichever instance heard them), the HTTP server and (with an MQTT URL)
// the MQTT bridge.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fleet/event_hub.h"
#include "fleet/fleet_service.h"
#include "fleet/metrics.h"
#include "leases/lease_keeper.h"
#include "library/data_dir.h"
#include "mqtt/command_runner.h"
#include "serve/monitor.h"
#include "serve/schedule.h"
#include "serve/serve_options.h"
#include "serve/served_controllers.h"
#include "serve/watch.h"
#include "serve/work_taker.h"
#include "serve/zone_changes.h"
#include "store/store.h"

namespace doorlinkd {

class HttpServer;
class MqttBridge;

class Service {
public:
    // leaseOwner: a name no other process uses.
    Service(Store& store, const DataDir& dataDir, const ServeOptions& options, const std::string& leaseOwner);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Imports what a process that died left in the data directory's
    // journal, starts everything and returns the URL at which HTTP answers.
    // Refused when HTTP cannot listen or an MQTT or TLS setting is refused.
    std::string start();

    // Stops everything: nothing new is driven, every wait ends, and HTTP
    // and MQTT close. True when every thread ended before the deadline;
    // false while an export still runs, which cannot be cut short: then the
    // process ends without destroying this (the leases of what still runs
    // expire, and the journal keeps what the exports fetched).
    bool stop(std::chrono::steady_clock::time_point deadline);

private:
    std::vector<Background*> parts() { return {&fleet_, &schedule_, &monitor_, &zoneChanges_, &requests_}; }

    Store& store_;
    const DataDir dataDir_;
    const ServeOptions options_;
    Metrics metrics_;
    EventHub hub_;
    LeaseKeeper leases_;
    ServedControllers served_;
    FleetService fleet_;
    Monitor monitor_;
    Watch watch_;
    Schedule schedule_;
    ZoneChanges zoneChanges_;
    CommandRunner commands_;
    WorkTaker requests_;
    std::unique_ptr<HttpServer> http_;
    std::unique_ptr<MqttBridge> mqtt_;
    bool stopped_ = false;
};

}  // namespace doorlinkd
