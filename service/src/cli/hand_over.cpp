#include "cli/hand_over.h"

#include <chrono>
#include <thread>

namespace doorlinkd {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(100);
// serve looks for requests several times a second.
constexpr auto kTakenWithin = std::chrono::seconds(15);
// Bounds an instance that died with the request in hand.
constexpr auto kDoneWithin = std::chrono::hours(1);

}  // namespace

bool serve_is_live(Store& store) {
    const ServedSites served = store.served_sites();
    return served.all || !served.names.empty();
}

Outcome handed_over(Store& store, const std::string& kind, const Json& arguments, const std::string& by) {
    const int64_t id = store.submit_work(kind, arguments.dump(), by);
    const auto began = std::chrono::steady_clock::now();
    for (;;) {
        std::this_thread::sleep_for(kPoll);
        const WorkRequest request = store.work(id);
        if (request.result) return outcome_of_text(*request.result);
        const auto waited = std::chrono::steady_clock::now() - began;
        if (!request.takenBy && waited > kTakenWithin) {
            throw Busy("serve holds the controllers, but no instance took request " + std::to_string(id) +
                       " within " + std::to_string(kTakenWithin.count()) + " s");
        }
        if (waited > kDoneWithin) {
            throw Busy("request " + std::to_string(id) + " was taken by " +
                       request.takenBy.value_or("serve") + " and is not done after an hour");
        }
    }
}

}  // namespace doorlinkd
