// The monitoring sockets of the controllers this instance serves: what the
// controllers push to them (error reports, live photos) becomes events, the
// photos stored. One thread polls every socket and looks at each datagram
// before anything takes it; a socket with a report or a photo goes to a
// worker, out of the poll set until the export has taken it, so a photo's
// blocks never hold up the other controllers. Photos of one card are taken
// one after the other (the export writes one file per card), of other cards
// at the same time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/thread_group.h"
#include "fleet/event_hub.h"
#include "library/data_dir.h"
#include "model/controller.h"
#include "serve/card_locks.h"
#include "serve/pushed_datagram.h"
#include "store/store.h"

namespace doorlinkd {

class Monitor : public Background {
public:
    Monitor(Store& store, EventHub& hub, DataDir dataDir, int workers);
    ~Monitor();  // stops, joins and closes every socket
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    void start();
    // Watches the controller's new monitoring socket, which the monitor now
    // owns. Its previous socket is closed once nothing more comes on it:
    // the controller sent to it until it acknowledged the new one.
    void watch(const Controller& controller, int socket);
    // Stops watching every controller but these.
    void keep_only(const std::set<std::string>& names);
    // Wakes the exports waiting on the sockets (shut down) and ends the
    // threads; what was not taken yet is dropped.
    void stop() override;

private:
    using Clock = std::chrono::steady_clock;
    struct Socket;
    struct Job {
        std::shared_ptr<Socket> socket;
        Pushed kind;
        std::optional<std::string> card;  // of a photo, from its first block
        uint64_t firstBlock = 0;          // a photo's first block's fingerprint
    };

    void poll_loop();
    // Looks at the next datagram of a readable socket: drains what no
    // export takes, hands the rest to a worker.
    void look_at(const std::shared_ptr<Socket>& socket);
    void work_loop();
    void take_photo(Socket& socket, const Job& job);
    void take_error_report(const Socket& socket);
    void retire(const std::shared_ptr<Socket>& socket);
    void wake_poll();

    Store& store_;
    EventHub& hub_;
    const DataDir dataDir_;
    const int workers_;
    int wakeFd_ = -1;  // an eventfd in the poll set
    std::mutex mutex_;
    std::condition_variable jobsReady_;
    std::vector<std::shared_ptr<Socket>> sockets_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    // A card's lock is held from DoorPic through the reading of the file it
    // wrote: two controllers pushing photos of one card write the same file.
    CardLocks photoFiles_;
};

}  // namespace doorlinkd
