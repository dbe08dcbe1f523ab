#include "mqtt/command_inbox.h"

#include "common/sha256.h"
#include "mqtt/mqtt_command.h"
#include "mqtt/mqtt_log.h"

namespace doorlinkd {
namespace {

// Messages waiting to be stored, at most; a flood beyond is dropped.
constexpr size_t kQueueLimit = 1000;
// Two instances hear one publish within moments of each other: a message
// of the same id and fingerprint heard within this span is that publish.
// (A client that publishes the very same message again within it is taken
// for one publish: run and answered once.)
constexpr int64_t kSamePublishMs = 10000;

// On the monotonic clock: a step of the host's clock makes no command older or younger.
int64_t ms_since(std::chrono::steady_clock::time_point then) {
    const auto age = std::chrono::steady_clock::now() - then;
    return std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(age).count());
}

// What tells one publish from another of the same id.
std::string fingerprint(const MqttMessage& message) {
    std::string all;
    const auto add = [&all](const std::string& part) { all += std::to_string(part.size()) + ':' + part; };
    add(message.topic);
    add(message.payload);
    add(message.responseTopic);
    add(message.retained ? "retained" : "-");
    add(message.correlation ? "c" + *message.correlation : "-");
    return sha256_hex(std::vector<uint8_t>(all.begin(), all.end()));
}

}  // namespace

std::string CommandInbox::unserved_refusal(const std::string& controllerName) {
    const std::optional<Controller> controller = store_.controller(controllerName);
    if (!controller) return "no controller named " + controllerName;
    // Nobody would take it up: it is answered now, not when it expires.
    if (!store_.served_sites().serves(controller->site)) {
        return "no instance serves site " + controller->site + " of " + controllerName;
    }
    return "";
}

CommandInbox::CommandInbox(Store& store, EventHub& hub, std::string replyPrefix, std::function<void()> stored)
    : store_(store), hub_(hub), replyPrefix_(std::move(replyPrefix)), stored_(std::move(stored)) {}

CommandInbox::~CommandInbox() { stop(); }

void CommandInbox::start() {
    thread_ = std::thread([this] { run(); });
}

void CommandInbox::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void CommandInbox::push(MqttMessage message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.size() >= kQueueLimit) {
            mqtt_log("too many commands waiting; dropped one on " + message.topic);
            return;
        }
        queue_.push_back(std::move(message));
    }
    wake_.notify_all();
}

void CommandInbox::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        MqttMessage message = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        try {
            store(message);
        } catch (const std::exception& error) {  // one command's failure ends no others
            mqtt_log("cannot store a command on " + message.topic + ": " + error.what());
        }
        lock.lock();
    }
}

void CommandInbox::store(const MqttMessage& message) {
    const int64_t heardSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(message.received.time_since_epoch()).count();
    const MqttCommand command = check_command(message.topic, message.payload, message.retained, heardSeconds);
    HeardCommand heard;
    heard.id = command.id;
    heard.controller = command.controller;
    heard.verb = command.verb;
    heard.door = command.door;
    heard.refusal = command.refusal;
    if (heard.refusal.empty()) heard.refusal = unserved_refusal(command.controller);
    heard.fingerprint = fingerprint(message);
    heard.answerTopic = answer_topic(message.responseTopic, command.controller, replyPrefix_);
    heard.correlation = message.correlation;
    heard.ageMs = ms_since(message.heard);
    // A retained message comes again with every subscription, to each
    // instance when it subscribes: the same publish for as long as its id
    // is remembered.
    const int64_t samePublishMs = message.retained ? kCommandIdWindowMs : kSamePublishMs;
    switch (store_.store_command(heard, samePublishMs)) {
        case Store::CommandStored::Waiting: stored_(); break;
        case Store::CommandStored::Answered:
            hub_.poke();  // the publisher takes the answer from the outbox at once
            break;
        case Store::CommandStored::Copy: break;
    }
}

}  // namespace doorlinkd
