#include "serve/work_taker.h"

#include <chrono>
#include <iostream>

#include "fleet/plan_operations.h"

namespace doorlinkd {
namespace {

constexpr auto kTakeRound = std::chrono::milliseconds(200);
// A leaver's removal ends within seconds; this bounds a controller that
// never answers.
constexpr auto kLeaversWait = std::chrono::minutes(10);

}  // namespace

WorkTaker::WorkTaker(Store& store, FleetService& fleet, std::string owner)
    : Background("requests"), store_(store), fleet_(fleet), owner_(std::move(owner)) {}

WorkTaker::~WorkTaker() {
    stop();
    join();
}

void WorkTaker::start() {
    threads_.spawn([this] { take_loop(); });
}

void WorkTaker::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

void WorkTaker::take_loop() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (wake_.wait_for(lock, kTakeRound, [this] { return stopping_; })) return;
        }
        try {
            while (std::optional<WorkRequest> request = store_.take_work(owner_)) {
                store_.finish_work(request->id, outcome_text(run(*request)));
            }
        } catch (const std::exception& e) {
            std::cerr << "doorlinkd: taking requests: " << e.what() << std::endl;
        }
    }
}

Outcome WorkTaker::run(const WorkRequest& request) {
    try {
        const Json arguments = Json::parse(request.arguments);
        const Actor actor{request.requestedBy, ""};
        const SyncDriver sync = [&](const std::vector<std::string>& names) {
            return fleet_.sync_and_wait(names, false, actor);
        };
        if (request.kind == kSyncWork) {
            return sync_outcome(fleet_.sync_and_wait(arguments.at("names").get<std::vector<std::string>>(),
                                                     arguments.at("check").get<bool>(), actor));
        }
        if (request.kind == kApplyWork) {
            if (arguments.value("now", false)) return plan_apply_now(store_, actor, sync);
            return plan_apply(store_, arguments.at("plan").get<int64_t>(), actor, sync);
        }
        if (request.kind == kLeaversWork) {
            return leaver_outcome(
                fleet_.await_leavers(arguments.at("revision").get<int64_t>(), kLeaversWait));
        }
        return failure(kRefused, "a request of an unknown kind: " + request.kind);
    } catch (const nlohmann::json::exception& e) {
        return failure(kRefused, std::string("a request's arguments are none: ") + e.what());
    } catch (const std::exception& e) {
        return outcome_of_failure(e);
    }
}

}  // namespace doorlinkd
