// Runs the MQTT commands stored in the database (by whichever instance heard
// them) for the controllers this instance holds the leases of. Every serve
// instance runs one, whether it subscribes to commands or not.
//
// Each controller's commands run in the order heard, on a thread of that
// controller's (made when it has commands, ended when it has none; at most
// kMaxWorkers at once), so a silent controller holds up only its own. A
// command is claimed in the database just before it runs; an open taken up
// more than kOpenExpirySeconds after it was heard (any other command:
// kCommandSkewSeconds) is refused, never sent. Each is answered (through the
// outbox) and audited once, in the transaction that marks it done.
//
// Every runner also answers the commands nobody else will: one waiting
// longer than kOpenExpirySeconds for a controller whose lease nobody holds,
// and one whose runner lost the lease while it ran (its instance died);
// that one is never run again. The database decides who answers first.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "fleet/event_hub.h"
#include "fleet/fleet.h"
#include "store/store.h"

namespace doorlinkd {

class CommandRunner {
public:
    // owner: this instance's lease owner name.
    CommandRunner(Store& store, Fleet& fleet, EventHub& hub, std::string owner);
    ~CommandRunner();  // stops
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    void start();
    // Claims nothing more, and ends the threads once the commands in hand
    // are answered.
    void stop();
    // Looks in the database at once: a command was stored.
    void wake();

private:
    struct Worker {
        std::thread thread;
        bool done = false;
    };
    void run();
    void dispatch();
    void drive(const std::string& controller);
    void answer_stranded();
    CommandOutcome act(const ClaimedCommand& command);
    void answer(const std::string& id, const CommandOutcome& outcome, const std::string& runner);
    bool stopping();

    Store& store_;
    Fleet& fleet_;
    EventHub& hub_;
    const std::string owner_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false, stopping_ = false;
    std::map<std::string, Worker> workers_;  // by controller
    std::thread dispatcher_;
};

}  // namespace doorlinkd
