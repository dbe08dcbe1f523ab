#include "mqtt/mqtt_bridge.h"

#include <mqtt_protocol.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>

#include "model/errors.h"
#include "model/event.h"
#include "mqtt/broker_url.h"
#include "mqtt/command_inbox.h"
#include "mqtt/mosquitto_client.h"
#include "mqtt/mqtt_log.h"
#include "mqtt/outbox_publisher.h"

namespace doorlinkd {
namespace {

using namespace std::chrono_literals;

// How long stop() waits for the broker to take the offline status.
constexpr auto kGoodbyeWait = 1s;

void require_readable(const std::string& file, const std::string& what) {
    if (file.empty()) return;
    if (!std::ifstream(file)) throw Refused("the MQTT " + what + " file " + file + " cannot be read");
}

// Unique per process, so that a restarted instance is not taken for the
// old connection the broker may still hold.
std::string client_id(const std::string& instance) {
    std::random_device device;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", device());
    return "doorlinkd-" + instance + "-" + std::to_string(getpid()) + "-" + suffix;
}

}  // namespace

struct MqttBridge::Impl {
    Store& store;
    EventHub& hub;
    LeaseKeeper& leases;
    Metrics& metrics;
    const MqttOptions options;
    const std::string instance;
    const std::string statusTopic;
    const std::function<void()> commandStored;

    std::unique_ptr<MosquittoClient> client;
    std::unique_ptr<OutboxPublisher> publisher;
    std::unique_ptr<CommandInbox> commands;

    std::mutex mutex;
    std::condition_variable changed;
    bool connected = false;
    bool leaving = false;
    int goodbyeMid = -1;
    bool goodbyeTaken = false;

    Impl(Store& s, EventHub& h, LeaseKeeper& l, Metrics& m, const MqttOptions& o, const std::string& i,
         std::function<void()> stored)
        : store(s),
          hub(h),
          leases(l),
          metrics(m),
          options(o),
          instance(i),
          statusTopic("doorlink/service/" + i + "/status"),
          commandStored(std::move(stored)) {}

    std::string status(bool online) const {
        nlohmann::ordered_json out;
        out["online"] = online;
        out["instance"] = instance;
        if (online) {
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            out["since"] = iso_time(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
        }
        return out.dump();
    }

    void start() {
        if (client || options.url.empty()) return;
        try {
            set_up();
        } catch (...) {
            client.reset();
            commands.reset();
            publisher.reset();
            throw;
        }
    }

    void set_up() {
        leaving = goodbyeTaken = false;
        goodbyeMid = -1;
        const BrokerUrl broker = parse_broker_url(options.url);
        if (!broker.tls && !(options.ca.empty() && options.cert.empty() && options.key.empty())) {
            throw Refused("the MQTT TLS files need an mqtts:// URL");
        }
        if (options.cert.empty() != options.key.empty()) {
            throw Refused("the MQTT client certificate and key go together");
        }
        require_readable(options.ca, "CA");
        require_readable(options.cert, "certificate");
        require_readable(options.key, "key");

        MqttCallbacks callbacks;
        callbacks.connected = [this] { on_connected(); };
        callbacks.lost = [this] { on_lost(); };
        callbacks.acknowledged = [this](int mid, bool accepted, const std::string& why) {
            publisher->acknowledged(mid, accepted, why);
            std::lock_guard<std::mutex> lock(mutex);
            if (mid == goodbyeMid) goodbyeTaken = true;
            changed.notify_all();
        };
        callbacks.message = [this](MqttMessage message) {
            if (commands) commands->push(std::move(message));
        };
        client = std::make_unique<MosquittoClient>(client_id(instance), std::move(callbacks));
        if (!options.user.empty()) client->set_credentials(options.user, options.password);
        if (broker.tls) client->set_tls(options.ca, options.cert, options.key);
        client->set_will(statusTopic, status(false));

        publisher = std::make_unique<OutboxPublisher>(
            store, hub, leases, metrics, [this](const Store::OutboxMessage& message) {
                return client->publish(message.topic, message.payload, message.retained, message.correlation);
            });
        if (options.commands) {
            commands = std::make_unique<CommandInbox>(store, hub, options.replyPrefix, commandStored);
            commands->start();
        }
        publisher->start();
        client->connect(broker.host, broker.port);
    }

    void on_connected() {
        mqtt_log("connected to " + options.url);
        client->publish(statusTopic, status(true), true);
        // Retain As Published: a retained command is known as one also
        // when it comes while connected, and then refused.
        if (options.commands && !client->subscribe("doorlink/+/cmd/+", MQTT_SUB_OPT_RETAIN_AS_PUBLISHED)) {
            mqtt_log("cannot subscribe to the commands");
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            connected = true;
        }
        publisher->connected(true);
    }

    void on_lost() {
        bool told;
        {
            std::lock_guard<std::mutex> lock(mutex);
            told = connected && !leaving;
            connected = false;
        }
        if (told) mqtt_log("lost the connection to " + options.url + "; connecting again");
        publisher->connected(false);
    }

    void stop() {
        if (!client) return;
        if (commands) commands->stop();
        publisher->stop();
        {
            // Held while publishing, so the acknowledgement cannot come
            // before its id is known.
            std::unique_lock<std::mutex> lock(mutex);
            leaving = true;
            if (connected) {
                const Handed handed = client->publish(statusTopic, status(false), true);
                if (handed.result == Handed::Sent) {
                    goodbyeMid = handed.mid;
                    changed.wait_for(lock, kGoodbyeWait, [this] { return goodbyeTaken; });
                }
            }
        }
        client->disconnect();
        client.reset();
        commands.reset();
        publisher.reset();
    }
};

MqttBridge::MqttBridge(Store& store, EventHub& hub, LeaseKeeper& leases, Metrics& metrics,
                       const MqttOptions& options, const std::string& instance,
                       std::function<void()> commandStored)
    : impl_(
          std::make_unique<Impl>(store, hub, leases, metrics, options, instance, std::move(commandStored))) {}

MqttBridge::~MqttBridge() {
    try {
        stop();
    } catch (const std::exception& error) {  // a destructor throws nothing
        mqtt_log(std::string("stopping failed: ") + error.what());
    }
}

void MqttBridge::start() { impl_->start(); }

void MqttBridge::stop() { impl_->stop(); }

}  // namespace doorlinkd
