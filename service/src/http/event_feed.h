// One reader of new events for the whole process, fanned out in memory to
// every open event stream: a thousand streams cost one query a second, not
// a thousand. It reads what this instance's hub appends at once and what
// other instances store within a second, and keeps the latest events, so
// that a stream that fell a little behind reads them from memory.
//
// It also looks up the tokens of the open streams every few seconds, once
// per token whatever the streams: a stream outlives the request that opened
// it, and a revoked or expired token must not keep it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fleet/event_hub.h"
#include "store/store.h"

namespace doorlinkd {

class EventFeed {
public:
    static constexpr size_t kKept = 4096;  // latest events held
    static constexpr std::chrono::seconds kTokenCheck{
        4};  // with the wait of a second, none unchecked for 5 s

    EventFeed(Store& store, EventHub& hub);
    ~EventFeed();  // stops
    EventFeed(const EventFeed&) = delete;
    EventFeed& operator=(const EventFeed&) = delete;

    void start();
    void stop();

    // A stream's wake-up: called from the feed's thread when events came or
    // tokens were checked; it must only hand the work on.
    using Wake = std::function<void()>;
    uint64_t subscribe(const std::string& tokenHash, Wake wake);
    void unsubscribe(uint64_t id);

    struct Read {
        bool held = false;  // false: the feed no longer holds the events after `after`
        std::vector<Event> events;
        int64_t through = 0;  // read up to this id (a stream's next `after`)
    };
    // The events after `after` of the controller and kind ("" any), at most
    // `limit`, from memory.
    Read read(int64_t after, const std::string& controller, const std::string& kind, size_t limit) const;
    // Whether the token was found revoked or expired at its last check.
    bool revoked(const std::string& tokenHash) const;
    // The id of the newest event read, and the id after which the feed
    // holds every event.
    int64_t last_id() const;
    int64_t oldest_held() const;

private:
    void run();
    bool read_new();
    void check_tokens();
    void wake_all();

    Store& store_;
    EventHub& hub_;
    mutable std::mutex mutex_;
    std::deque<Event> kept_;  // every event with an id in (base_, last_]
    int64_t base_ = 0;
    int64_t last_ = 0;
    bool known_ = false;                                            // base_ and last_ read from the store
    std::map<uint64_t, std::pair<std::string, Wake>> subscribers_;  // id: token hash and wake-up
    uint64_t nextId_ = 1;
    std::set<std::string> revoked_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace doorlinkd
