#include "mqtt/command_worker.h"

#include "model/errors.h"
#include "mqtt/mqtt_command.h"
#include "mqtt/mqtt_log.h"

namespace doorlinkd {
namespace {

// Commands waiting, at most; a flood beyond is dropped.
constexpr size_t kQueueLimit = 1000;
// How long an id is remembered: longer than any span in which one message
// could be fresh (from kCommandSkewSeconds ahead to as far behind).
constexpr int64_t kIdWindowMs = 4 * kCommandSkewSeconds * 1000;

int64_t ms_of(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

}  // namespace

CommandWorker::CommandWorker(Store& store, Fleet& fleet, std::string owner, std::string replyPrefix,
                             Answer answer)
    : store_(store),
      fleet_(fleet),
      owner_(std::move(owner)),
      replyPrefix_(std::move(replyPrefix)),
      answer_(std::move(answer)) {}

CommandWorker::~CommandWorker() { stop(); }

void CommandWorker::start() {
    thread_ = std::thread([this] { run(); });
}

void CommandWorker::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void CommandWorker::push(MqttMessage message) {
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

void CommandWorker::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        MqttMessage message = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        try {
            handle(message);
        } catch (const std::exception& error) {  // one command's failure ends no others
            mqtt_log("a command on " + message.topic + " failed: " + error.what());
        }
        lock.lock();
    }
}

void CommandWorker::handle(const MqttMessage& message) {
    const int64_t receivedMs = ms_of(message.received);
    const MqttCommand command =
        check_command(message.topic, message.payload, message.retained, receivedMs / 1000);
    if (!command.controller.empty()) {
        const auto holder = store_.lease_holder(command.controller);
        if (holder && *holder != owner_) return;  // the holder acts, answers and audits
    }
    Outcome outcome;
    if (!command.refusal.empty()) {
        outcome = {"refused", command.refusal};
    } else {
        try {
            if (store_.remember_command_id(command.id, receivedMs, kIdWindowMs)) {
                outcome = act(command.controller, command.verb, command.door);
            } else {
                outcome = {"refused", "the id " + command.id + " was seen before"};
            }
        } catch (const std::exception& error) {
            outcome = {"failed", error.what()};
        }
    }

    // Audited before it is answered: whoever reads the answer finds the entry.
    AuditEntry entry;
    entry.who = "mqtt";
    entry.action = "mqtt cmd/" + command.verb;
    entry.target = command.controller;
    entry.result = outcome.result == "ok" ? "ok" : outcome.result + ": " + outcome.error;
    entry.detail = command.id;
    try {
        store_.audit(entry);
    } catch (const std::exception& error) {
        mqtt_log("cannot audit a command on " + message.topic + ": " + error.what());
    }
    const std::string topic = answer_topic(message.responseTopic, command.controller, replyPrefix_);
    if (!topic.empty()) {
        answer_(topic, command_answer(command.id, outcome.result, outcome.error, outcome.run),
                message.correlation);
    }
}

CommandWorker::Outcome CommandWorker::act(const std::string& controller, const std::string& verb, int door) {
    const Actor actor{"mqtt", ""};
    try {
        if (verb == "open") fleet_.open_door(controller, door);
        if (verb == "time") fleet_.set_clock(controller);
        if (verb == "sync") return {"ok", "", fleet_.start_sync({controller}, actor)};
        return {};
    } catch (const Refused& refused) {  // NotFound too
        return {"refused", refused.what()};
    } catch (const std::exception& failure) {
        return {"failed", failure.what()};
    }
}

}  // namespace doorlinkd
