// The store's connections, each lent to one caller at a time and made when
// none is free, up to a limit; callers beyond it wait for one, for a while.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "store/connection.h"

namespace doorlinkd {

class Pool {
public:
    // A caller waits for a connection for at most maxWait, and not at all
    // once a connection was found silent meanwhile.
    Pool(Connector connect, std::unique_ptr<Connection> first,
         std::chrono::milliseconds maxWait = kLongestWait);

    // Long enough for a pool emptied by rightful load (callers queued behind
    // a long import; SQLite lets a writer wait 30 s for another). A silent
    // server does not keep callers this long: once one connection finds it,
    // every waiting caller is told at once (found_silent).
    static constexpr std::chrono::milliseconds kLongestWait{30000};

    // A connection lent for one transaction, given back when this ends.
    class Lent {
    public:
        Lent(Pool& pool, std::unique_ptr<Connection> connection)
            : pool_(pool), connection_(std::move(connection)) {}
        ~Lent() { pool_.give_back(std::move(connection_), !broken_); }
        Lent(const Lent&) = delete;
        Lent& operator=(const Lent&) = delete;
        Connection& operator*() const { return *connection_; }
        Connection* operator->() const { return connection_.get(); }
        // The connection is not to be used again.
        void discard() { broken_ = true; }

    private:
        Pool& pool_;
        std::unique_ptr<Connection> connection_;
        bool broken_ = false;
    };

    // A connection, idle or new; throws StoreError when none is had in
    // time, and a connector's failure as it is.
    std::unique_ptr<Connection> take();
    void give_back(std::unique_ptr<Connection> connection, bool keep = true);
    // Closes the idle connections (after one was found lost).
    void drop_idle();
    // A connection found the server silent (DatabaseError::Kind::Silent):
    // the callers waiting for one fail now instead of waiting for more.
    void found_silent();

private:
    Connector connect_;
    const std::chrono::milliseconds maxWait_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<std::unique_ptr<Connection>> idle_;
    size_t open_ = 0;
    uint64_t silences_ = 0;  // connections found silent so far
};

}  // namespace doorlinkd
