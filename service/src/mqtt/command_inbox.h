// The MQTT commands this instance hears, stored for the instances to run:
// on a thread of its own (the network thread only queues), each is checked
// (retained, payload, time, known controller, its site served by a live
// instance) and stored once however many instances heard it. A refusal is
// answered and audited as it is stored; a command to run waits in the
// database for the holder of its controller's lease
// (mqtt/command_runner.h), which this instance may or may not be.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "fleet/event_hub.h"
#include "mqtt/mosquitto_client.h"
#include "store/store.h"

namespace doorlinkd {

class CommandInbox {
public:
    // replyPrefix: where response topics may lie besides
    // doorlink/<controller>/reply (see answer_topic). stored: called once a
    // command waits to be run.
    CommandInbox(Store& store, EventHub& hub, std::string replyPrefix, std::function<void()> stored);
    ~CommandInbox();  // stops
    CommandInbox(const CommandInbox&) = delete;
    CommandInbox& operator=(const CommandInbox&) = delete;

    void start();
    // Ends the thread once the message in hand is stored; those queued are
    // dropped (as if never heard: another instance may have heard them).
    void stop();
    // From the network thread: returns at once.
    void push(MqttMessage message);

private:
    void run();
    void store(const MqttMessage& message);
    // Why a command for the controller is refused before it is stored: it
    // is unknown, or no live instance serves its site; "" when neither.
    std::string unserved_refusal(const std::string& controllerName);

    Store& store_;
    EventHub& hub_;
    const std::string replyPrefix_;
    const std::function<void()> stored_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<MqttMessage> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace doorlinkd
