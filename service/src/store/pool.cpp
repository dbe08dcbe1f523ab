#include "store/pool.h"

namespace doorlinkd {
namespace {

// Connections open at most at once per store: PostgreSQL's default limit is
// 100 connections, shared by every instance.
constexpr size_t kMaxConnections = 16;

}  // namespace

Pool::Pool(Connector connect, std::unique_ptr<Connection> first) : connect_(std::move(connect)) {
    idle_.push_back(std::move(first));
    open_ = 1;
}

std::unique_ptr<Connection> Pool::take() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        freed_.wait(lock, [this] { return !idle_.empty() || open_ < kMaxConnections; });
        if (!idle_.empty()) {
            std::unique_ptr<Connection> connection = std::move(idle_.back());
            idle_.pop_back();
            return connection;
        }
        ++open_;
    }
    try {
        return connect_();
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

}  // namespace doorlinkd
