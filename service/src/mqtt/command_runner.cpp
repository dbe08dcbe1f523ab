#include "mqtt/command_runner.h"

#include <cstdio>

#include "model/errors.h"
#include "mqtt/mqtt_command.h"
#include "mqtt/mqtt_log.h"

namespace doorlinkd {
namespace {

using namespace std::chrono_literals;

// How often the database is looked at for commands stored by others.
constexpr auto kPollEvery = 200ms;
// How often the stranded commands are looked for, and old ones forgotten.
constexpr auto kSweepEvery = 1s;
// Controllers whose commands run at once, at most.
constexpr size_t kMaxWorkers = 16;

std::string seconds_text(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

// Why a command taken up ageMs after it was heard must not run; "" when it may.
std::string expiry(const ClaimedCommand& command) {
    const int64_t limitSeconds = command.verb == "open" ? kOpenExpirySeconds : kCommandSkewSeconds;
    if (command.ageMs <= limitSeconds * 1000) return "";
    return "expired: taken up " + seconds_text(command.ageMs) + " after it was heard; " +
           (command.verb == "open" ? "an open" : "a command") + " may wait at most " +
           std::to_string(limitSeconds) + " s";
}

}  // namespace

CommandRunner::CommandRunner(Store& store, Fleet& fleet, EventHub& hub, std::string owner)
    : store_(store), fleet_(fleet), hub_(hub), owner_(std::move(owner)) {}

CommandRunner::~CommandRunner() { stop(); }

void CommandRunner::start() {
    dispatcher_ = std::thread([this] { run(); });
}

void CommandRunner::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (dispatcher_.joinable()) dispatcher_.join();
    std::map<std::string, Worker> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& entry : workers) entry.second.thread.join();
}

void CommandRunner::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

bool CommandRunner::stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

void CommandRunner::run() {
    auto nextSweep = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, kPollEvery, [this] { return woken_ || stopping_; });
            if (stopping_) return;
            woken_ = false;
        }
        try {
            if (std::chrono::steady_clock::now() >= nextSweep) {
                nextSweep = std::chrono::steady_clock::now() + kSweepEvery;
                answer_stranded();
                store_.forget_commands(kCommandIdWindowMs);
            }
            dispatch();
        } catch (const std::exception& error) {  // the database is down: again at the next turn
            mqtt_log(std::string("cannot look for commands: ") + error.what());
        }
    }
}

void CommandRunner::dispatch() {
    std::vector<std::thread> ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (!it->second.done) {
                ++it;
                continue;
            }
            ended.push_back(std::move(it->second.thread));
            it = workers_.erase(it);
        }
    }
    for (std::thread& thread : ended) thread.join();
    for (const std::string& controller : store_.command_controllers(owner_)) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || workers_.size() >= kMaxWorkers) return;
        if (workers_.count(controller)) continue;  // its worker takes it up next
        workers_[controller].thread = std::thread([this, controller] { drive(controller); });
    }
}

void CommandRunner::drive(const std::string& controller) {
    try {
        while (!stopping()) {
            const std::optional<ClaimedCommand> command = store_.claim_command(controller, owner_);
            if (!command) break;
            const std::string expired = expiry(*command);
            const CommandOutcome outcome =
                expired.empty() ? act(*command) : CommandOutcome{"refused", expired};
            // Claimed, it is this instance's to answer while it holds the
            // lease: tried until the database takes it.
            for (bool told = false;; told = true) {
                try {
                    answer(command->id, outcome, owner_);
                    break;
                } catch (const std::exception& error) {
                    if (!told) mqtt_log("cannot answer command " + command->id + ": " + error.what());
                    std::unique_lock<std::mutex> lock(mutex_);
                    if (wake_.wait_for(lock, 1s, [this] { return stopping_; })) throw;
                }
            }
        }
    } catch (const std::exception& error) {
        mqtt_log("cannot run the commands of " + controller + ": " + error.what());
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers_[controller].done = true;
    }
    wake();  // it may have had more meanwhile
}

CommandOutcome CommandRunner::act(const ClaimedCommand& command) {
    const Actor actor{"mqtt", ""};
    try {
        if (command.verb == "open") fleet_.open_door(command.controller, command.door);
        if (command.verb == "time") fleet_.set_clock(command.controller);
        if (command.verb == "sync") return {"ok", "", fleet_.start_sync({command.controller}, actor)};
        return {};
    } catch (const Refused& refused) {  // NotFound and Busy too
        return {"refused", refused.what()};
    } catch (const std::exception& failure) {
        return {"failed", failure.what()};
    }
}

void CommandRunner::answer(const std::string& id, const CommandOutcome& outcome, const std::string& runner) {
    if (store_.answer_command(id, runner, outcome)) hub_.poke();  // the publisher takes the answer at once
}

void CommandRunner::answer_stranded() {
    for (const StrandedCommand& command : store_.stranded_commands(kOpenExpirySeconds * 1000)) {
        if (command.runner.empty()) {
            answer(command.id, {"refused", "expired: no instance drives " + command.controller}, "");
        } else {
            answer(command.id,
                   {"failed", "interrupted: " + command.runner + " lost the lease of " + command.controller +
                                  " while it ran the command; it is not run again"},
                   command.runner);
        }
    }
}

}  // namespace doorlinkd
