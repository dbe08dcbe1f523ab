// Acts on MQTT commands, one at a time on a thread of its own (a command
// may drive a controller for seconds; the network thread only queues it):
// checks each (retained, payload, freshness, an id seen before), acts
// through the fleet, answers and audits.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "fleet/fleet.h"
#include "mqtt/mosquitto_client.h"
#include "store/store.h"

namespace doorlinkd {

class CommandWorker {
public:
    // Publishes an answer (QoS 1, not retained) with its correlation data.
    using Answer = std::function<void(const std::string& topic, const std::string& payload,
                                      const std::optional<std::string>& correlation)>;
    // owner: this instance's lease owner name. A command for a controller
    // another instance holds is that instance's to act on and answer: every
    // instance subscribed hears it. replyPrefix: where response topics may
    // lie besides doorlink/<controller>/reply (see answer_topic).
    CommandWorker(Store& store, Fleet& fleet, std::string owner, std::string replyPrefix, Answer answer);
    ~CommandWorker();  // stops
    CommandWorker(const CommandWorker&) = delete;
    CommandWorker& operator=(const CommandWorker&) = delete;

    void start();
    // Ends the thread once the command in hand is done; the queued ones are
    // dropped (unanswered, as if never received).
    void stop();
    // From the network thread: returns at once.
    void push(MqttMessage message);

private:
    struct Outcome {
        std::string result = "ok";  // "ok", "refused", "failed"
        std::string error;
        int64_t run = 0;
    };
    void run();
    void handle(const MqttMessage& message);
    Outcome act(const std::string& controller, const std::string& verb, int door);

    Store& store_;
    Fleet& fleet_;
    const std::string owner_;
    const std::string replyPrefix_;
    const Answer answer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<MqttMessage> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace doorlinkd
