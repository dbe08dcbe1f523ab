#include "http/event_feed.h"

#include <algorithm>
#include <iostream>

#include "fleet/card_holders.h"

namespace doorlinkd {
namespace {

constexpr auto kWait = std::chrono::seconds(1);  // how soon other instances' events are seen
constexpr int kBatch = 500;

bool wanted(const Event& event, const std::string& controller, const std::string& kind) {
    return (controller.empty() || event.controller == controller) && (kind.empty() || event.kind == kind);
}

}  // namespace

EventFeed::EventFeed(Store& store, EventHub& hub) : store_(store), hub_(hub) {}

EventFeed::~EventFeed() { stop(); }

void EventFeed::start() {
    thread_ = std::thread([this] { run(); });
}

void EventFeed::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    hub_.poke();
    if (thread_.joinable()) thread_.join();
}

uint64_t EventFeed::subscribe(const std::string& tokenHash, Wake wake) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t id = nextId_++;
    subscribers_.emplace(id, std::make_pair(tokenHash, std::move(wake)));
    return id;
}

void EventFeed::unsubscribe(uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    subscribers_.erase(id);
}

EventFeed::Read EventFeed::read(int64_t after, const std::string& controller, const std::string& kind,
                                size_t limit) const {
    Read result;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!known_ || after < base_) return result;
    result.held = true;
    result.through = std::max(after, last_);
    // Ids ascend: the first kept event after `after` is found by halving.
    auto it = std::upper_bound(kept_.begin(), kept_.end(), after,
                               [](int64_t id, const Event& event) { return id < event.id; });
    for (; it != kept_.end(); ++it) {
        if (!wanted(*it, controller, kind)) continue;
        if (result.events.size() == limit) {
            result.through = result.events.back().id;
            break;
        }
        result.events.push_back(*it);
    }
    return result;
}

bool EventFeed::revoked(const std::string& tokenHash) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return revoked_.count(tokenHash) != 0;
}

int64_t EventFeed::last_id() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

int64_t EventFeed::oldest_held() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return base_;
}

void EventFeed::run() {
    auto checked = std::chrono::steady_clock::now();
    bool failing = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
        }
        const uint64_t generation = hub_.generation();
        bool woke = false;
        try {
            woke = read_new();
            if (std::chrono::steady_clock::now() - checked >= kTokenCheck) {
                checked = std::chrono::steady_clock::now();
                check_tokens();
                woke = true;
            }
            failing = false;
        } catch (const std::exception& e) {
            // The streams stay open and see the events once the database
            // answers again.
            if (!failing)
                std::cerr << "doorlinkd: the event streams cannot read events: " << e.what() << std::endl;
            failing = true;
        }
        if (woke) wake_all();
        if (hub_.stopped()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } else {
            hub_.wait(generation, kWait);
        }
    }
}

bool EventFeed::read_new() {
    if (!known_) {
        // It begins after the newest event; streams that ask for older ones
        // read them from the store.
        const int64_t newest = store_.last_event_id();
        std::lock_guard<std::mutex> lock(mutex_);
        base_ = last_ = newest;
        known_ = true;
    }
    bool any = false;
    for (;;) {
        const std::vector<Event> events = with_card_holders(store_, store_.events(last_id(), "", "", kBatch));
        if (events.empty()) return any;
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Event& event : events) {
            if (event.id <= last_) continue;
            kept_.push_back(event);
            last_ = event.id;
        }
        while (kept_.size() > kKept) {
            base_ = kept_.front().id;
            kept_.pop_front();
        }
        any = true;
        if (events.size() < static_cast<size_t>(kBatch)) return any;
    }
}

void EventFeed::check_tokens() {
    std::set<std::string> hashes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [id, subscriber] : subscribers_) hashes.insert(subscriber.first);
    }
    std::set<std::string> gone;
    for (const std::string& hash : hashes) {
        if (!store_.token_by_hash(hash)) gone.insert(hash);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    revoked_ = std::move(gone);
}

void EventFeed::wake_all() {
    std::vector<Wake> wakes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [id, subscriber] : subscribers_) wakes.push_back(subscriber.second);
    }
    for (const Wake& wake : wakes) wake();
}

}  // namespace doorlinkd
