// The store's connections, each lent to one caller at a time and made when
// none is free, up to a limit; callers beyond it wait for one.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "store/connection.h"

namespace doorlinkd {

class Pool {
public:
    Pool(Connector connect, std::unique_ptr<Connection> first);

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

    std::unique_ptr<Connection> take();
    void give_back(std::unique_ptr<Connection> connection, bool keep = true);
    // Closes the idle connections (after one was found lost).
    void drop_idle();

private:
    Connector connect_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<std::unique_ptr<Connection>> idle_;
    size_t open_ = 0;
};

}  // namespace doorlinkd
