#include "serve/service.h"

#include <iostream>
#include <thread>

#include "archive/archive.h"
#include "fleet/clocks.h"
#include "http/http_server.h"
#include "library/doorlink_library.h"
#include "mqtt/mqtt_bridge.h"

namespace doorlinkd {
namespace {

// Monitoring workers: a photo takes one for a few milliseconds, or for
// seconds when the controller falls silent in the middle.
constexpr int kMonitorWorkers = 4;

// The URL at which this host reaches the server listening at ADDR:PORT.
std::string local_url(const HttpOptions& options, int port) {
    std::string address = options.listen.substr(0, options.listen.rfind(':'));
    if (address.empty() || address == "0.0.0.0") address = "127.0.0.1";
    if (address == "::" || address == "[::]") address = "[::1]";
    return (options.tlsCert.empty() ? "http://" : "https://") + address + ":" + std::to_string(port);
}

}  // namespace

Service::Service(Store& store, const DataDir& dataDir, const ServeOptions& options,
                 const std::string& leaseOwner)
    : store_(store),
      dataDir_(dataDir),
      options_(options),
      hub_(store, metrics_),
      leases_(store, leaseOwner, options.leaseSeconds),
      served_(store, leases_),
      fleet_(store, leases_, hub_, metrics_, dataDir, options.parallel),
      monitor_(store, hub_, dataDir, kMonitorWorkers),
      watch_(store, leases_, monitor_, hub_, metrics_, options.instance, options.maxSkew, options.parallel),
      schedule_(store, served_, fleet_, watch_, options_),
      zoneChanges_(
          [this] { return served_.controllers(); },
          [this](const Controller& controller, const std::string& why) { watch_.set_clock(controller, why); },
          options.parallel, host_now_ms),
      commands_(store, fleet_, hub_, leaseOwner),
      requests_(store, fleet_, leaseOwner) {}

Service::~Service() {
    stop(std::chrono::steady_clock::now());
    // Members end in reverse: each joins its threads; the lease keeper,
    // among the last, gives the leases back.
    mqtt_.reset();
    http_.reset();
}

std::string Service::start() {
    // Before anything is driven or heard: a command for a controller of
    // these sites is no longer refused as unserved.
    require_sites(store_, options_.sites);
    leases_.serve_sites(options_.sites);
    // Before the first exchange with any controller.
    library::set_every_controller_lossy(options_.lossyAll);
    // Nothing runs yet, and the data directory is this process's alone: its
    // journal is imported for every controller, also those another instance
    // holds now (importing drives no controller), and for every retired
    // number under the controller that had it.
    const ImportCounts journal = import_journals(store_, dataDir_);
    if (journal.records > 0 || journal.photos > 0) {
        std::cerr << "doorlinkd: imported from the journal: " << journal.records << " records, "
                  << journal.photos << " photos" << std::endl;
    }
    http_ = std::make_unique<HttpServer>(store_, fleet_, hub_, metrics_, options_.http);
    http_->start();
    if (!options_.mqtt.url.empty()) {
        mqtt_ = std::make_unique<MqttBridge>(store_, hub_, leases_, metrics_, options_.mqtt,
                                             options_.instance, [this] { commands_.wake(); });
        mqtt_->start();
    }
    fleet_.start();
    monitor_.start();
    schedule_.start();
    zoneChanges_.start();
    commands_.start();
    requests_.start();
    // The server listens and accepts from its own threads once started.
    return local_url(options_.http, http_->port());
}

bool Service::stop(std::chrono::steady_clock::time_point deadline) {
    if (!stopped_) {
        stopped_ = true;
        leases_.stop_driving("the service is stopping");
        for (Background* part : parts()) part->stop();
        // The commands in hand end at their next call to a controller.
        commands_.stop();
        hub_.stop();
        // The leases no export holds go back now, also when the process has
        // to end around an export that still runs.
        served_.release_all();
        // Each closes within a second or two; side by side.
        std::thread httpStop([this] {
            if (http_) http_->stop();
        });
        if (mqtt_) mqtt_->stop();
        httpStop.join();
    }
    return fleet_.wait_stopped(deadline) && schedule_.wait_stopped(deadline) &&
           monitor_.wait_stopped(deadline) && zoneChanges_.wait_stopped(deadline) &&
           requests_.wait_stopped(deadline);
}

}  // namespace doorlinkd
