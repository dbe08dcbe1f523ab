// MQTT (libmosquitto, MQTT 5) to an existing broker: publishes the outbox in
// order, at QoS 1, while this instance holds the "@outbox" lease (command
// answers among it, with their correlation data); keeps the instance's
// retained status with a last will; and, when enabled, hears commands
// (doorlink/<controller>/cmd/open|time|sync) and stores them for the
// instances to run (mqtt/command_inbox.h, mqtt/command_runner.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "fleet/event_hub.h"
#include "fleet/metrics.h"
#include "leases/lease_keeper.h"
#include "mqtt/mqtt_options.h"
#include "store/store.h"

namespace doorlinkd {

class MqttBridge {
public:
    // commandStored: called once a command heard waits to be run.
    MqttBridge(Store& store, EventHub& hub, LeaseKeeper& leases, Metrics& metrics, const MqttOptions& options,
               const std::string& instance, std::function<void()> commandStored);
    ~MqttBridge();  // stops
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Connects in the background (reconnecting with a growing pause) and
    // returns at once; Refused for a bad URL or TLS files that cannot be read.
    void start();
    // Publishes the offline status, disconnects, and ends its threads within
    // a second or two. Messages not acknowledged stay in the outbox.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace doorlinkd
