// The store's pool of connections: a caller who waits for one when all are
// lent waits for a while only, and not at all once the server is silent.
#include "store/pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace doorlinkd {
namespace {

using Clock = std::chrono::steady_clock;

class IdleConnection : public Connection {
public:
    const Dialect& dialect() const override {
        static const Dialect none;
        return none;
    }
    int64_t execute_each(const std::string&, const std::vector<Value>&,
                         const std::function<void(Row&&)>&) override {
        return 0;
    }
    void begin(bool) override {}
    void commit() override {}
    void rollback() override {}
    bool usable() const override { return true; }
    void backup_to(const std::string&) override {}
};

std::unique_ptr<Connection> idle_connection() { return std::make_unique<IdleConnection>(); }

// Every connection the pool may open (16), lent.
std::vector<std::unique_ptr<Connection>> lend_all(Pool& pool) {
    std::vector<std::unique_ptr<Connection>> lent;
    for (int i = 0; i < 16; ++i) lent.push_back(pool.take());
    return lent;
}

TEST(Pool, AWaitForAConnectionEnds) {
    Pool pool(idle_connection, idle_connection(), std::chrono::milliseconds(300));
    auto lent = lend_all(pool);
    const auto began = Clock::now();
    EXPECT_THROW(pool.take(), StoreError);
    EXPECT_GE(Clock::now() - began, std::chrono::milliseconds(300));
    pool.give_back(std::move(lent.back()));
    lent.pop_back();
    EXPECT_NE(pool.take(), nullptr);
}

TEST(Pool, WaitersFailOnceAConnectionFindsTheServerSilent) {
    Pool pool(idle_connection, idle_connection());  // the longest wait: 30 s
    auto lent = lend_all(pool);
    const auto began = Clock::now();
    DatabaseError::Kind kind = DatabaseError::Kind::Other;
    std::thread waiter([&] {
        try {
            pool.take();
        } catch (const DatabaseError& error) {
            kind = error.kind();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pool.found_silent();
    waiter.join();
    EXPECT_EQ(kind, DatabaseError::Kind::Silent);
    EXPECT_LT(Clock::now() - began, std::chrono::seconds(10));
}

}  // namespace
}  // namespace doorlinkd
