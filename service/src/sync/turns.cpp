#include "sync/turns.h"

namespace doorlinkd {

ControllerTurns::Turn::Turn(ControllerTurns& turns, std::string controller, bool urgent)
    : turns_(turns), controller_(std::move(controller)) {
    std::unique_lock<std::mutex> lock(turns_.mutex_);
    State& state = turns_.states_[controller_];
    ++state.users;
    if (urgent) ++state.urgentWaiting;
    turns_.changed_.wait(lock, [&] { return !state.held && (urgent || state.urgentWaiting == 0); });
    if (urgent) --state.urgentWaiting;
    state.held = true;
}

ControllerTurns::Turn::~Turn() {
    {
        const std::lock_guard<std::mutex> lock(turns_.mutex_);
        const auto found = turns_.states_.find(controller_);
        found->second.held = false;
        if (--found->second.users == 0) turns_.states_.erase(found);
    }
    turns_.changed_.notify_all();
}

void ControllerTurns::give_way_if_asked(const std::string& controller) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = states_.find(controller);
    if (found != states_.end() && found->second.urgentWaiting > 0) {
        throw GaveWay("gave way to the removal of a leaver, which sends the whole list");
    }
}

}  // namespace doorlinkd
