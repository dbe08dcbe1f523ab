#include "store/pool.h"

namespace doorlinkd {
namespace {

// Connections open at most at once per store: PostgreSQL's default limit is
// 100 connections, shared by every instance.
constexpr size_t kMaxConnections = 16;

}  // namespace

Pool::Pool(Connector connect, std::unique_ptr<Connection> first, std::chrono::milliseconds maxWait)
    : connect_(std::move(connect)), maxWait_(maxWait) {
    idle_.push_back(std::move(first));
    open_ = 1;
}

std::unique_ptr<Connection> Pool::take() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const uint64_t silences = silences_;
        const bool free = freed_.wait_for(lock, maxWait_, [&] {
            return silences_ != silences || !idle_.empty() || open_ < kMaxConnections;
        });
        if (silences_ != silences) {
            throw DatabaseError("the database does not answer: a connection found it silent",
                                DatabaseError::Kind::Silent);
        }
        if (!free) {
            throw StoreError("no connection to the database was free within " +
                             std::to_string(maxWait_.count()) + " ms");
        }
        if (!idle_.empty()) {
            std::unique_ptr<Connection> connection = std::move(idle_.back());
            idle_.pop_back();
            return connection;
        }
        ++open_;
    }
    try {
        return connect_();
    } catch (const DatabaseError& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        --open_;
        if (error.kind() == DatabaseError::Kind::Silent) {
            ++silences_;
            freed_.notify_all();
        } else {
            freed_.notify_one();
        }
        throw;
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        --open_;
        freed_.notify_one();
        throw;
    }
}

void Pool::give_back(std::unique_ptr<Connection> connection, bool keep) {
    std::unique_ptr<Connection> dropped;  // closed outside the lock
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connection && keep && connection->usable()) {
            idle_.push_back(std::move(connection));
        } else {
            dropped = std::move(connection);
            --open_;
        }
    }
    freed_.notify_one();
}

void Pool::drop_idle() {
    std::vector<std::unique_ptr<Connection>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(idle_);
        open_ -= dropped.size();
    }
    freed_.notify_all();
}

void Pool::found_silent() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++silences_;
    }
    freed_.notify_all();
}

}  // namespace doorlinkd
