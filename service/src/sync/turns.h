// Within the process one run at a time writes a controller's list, and the
// removal of a leaver goes first: a sync that holds the controller gives way
// at its next export call, and the removal takes its turn before any other
// sync that waits.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

namespace doorlinkd {

// A sync that stopped so that a leaver's removal runs next on the
// controller.
class GaveWay : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ControllerTurns {
public:
    // Waits for the controller's turn, first among the waiting when urgent.
    class Turn {
    public:
        Turn(ControllerTurns& turns, std::string controller, bool urgent);
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        ControllerTurns& turns_;
        const std::string controller_;
    };

    // Throws GaveWay when an urgent turn waits for the controller.
    void give_way_if_asked(const std::string& controller) const;

private:
    struct State {
        bool held = false;
        int urgentWaiting = 0;
        int users = 0;  // holding or waiting: the entry lives while one does
    };
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, State> states_;
};

}  // namespace doorlinkd
