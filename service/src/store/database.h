// What every part of the store works over: the pool of connections, the
// transaction that retries what the database ended for a deadlock, and the
// SQL helpers the parts share.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "store/connection.h"
#include "store/pool.h"

namespace doorlinkd {

// One transaction's statements, with the dialect's tokens expanded.
class Tx {
public:
    explicit Tx(Connection& connection) : c_(connection), d_(connection.dialect()) {}
    const Dialect& dialect() const { return d_; }
    Result exec(const std::string& sql, const std::vector<Value>& params = {}) {
        return c_.execute(d_.expand(sql), params);
    }
    std::vector<Row> rows(const std::string& sql, const std::vector<Value>& params = {}) {
        return exec(sql, params).rows;
    }
    bool any(const std::string& sql, const std::vector<Value>& params = {}) {
        return !rows(sql, params).empty();
    }
    // Each row as it comes, for results too large to hold twice.
    void each(const std::string& sql, const std::function<void(Row&&)>& onRow) {
        c_.execute_each(d_.expand(sql), {}, onRow);
    }
    void each(const std::string& sql, const std::vector<Value>& params,
              const std::function<void(Row&&)>& onRow) {
        c_.execute_each(d_.expand(sql), params, onRow);
    }

private:
    Connection& c_;
    const Dialect& d_;
};

class Database {
public:
    Database(Connector connect, std::unique_ptr<Connection> first)
        : pool_(std::move(connect), std::move(first)) {}

    // Runs work(tx) as one transaction on a connection of the pool: commits
    // what it did, or rolls all of it back and throws. A transaction the
    // database ended for a deadlock is tried again, and so is one whose
    // connection turned out lost before it began (the server restarted):
    // then the other idle connections are dropped too and a new one made.
    // One whose server did not answer in time fails at once (its connection
    // is closed), wherever it was.
    template <typename Work>
    auto transaction(bool write, Work&& work) -> decltype(work(std::declval<Tx&>())) {
        for (int attempt = 1;; ++attempt) {
            Pool::Lent connection(pool_, pool_.take());
            bool begun = false;
            try {
                connection->begin(write);
                begun = true;
                Tx tx(*connection);
                auto result = work(tx);
                connection->commit();
                return result;
            } catch (const Refused&) {
                roll_back(connection);
                throw;
            } catch (const DatabaseError& error) {
                roll_back(connection);
                if (!try_again(connection, error, begun, attempt)) throw;
            } catch (const StoreError&) {
                roll_back(connection);
                throw;
            } catch (const Busy&) {  // a stale change among them
                roll_back(connection);
                throw;
            } catch (const std::exception& error) {
                roll_back(connection);
                throw StoreError(std::string("database: ") + error.what());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt));
        }
    }

    // An online copy of the database to a new file (Connection::backup_to).
    void backup(const std::string& file);

private:
    // Whether a transaction that failed so is tried again; forgets a
    // connection found lost, and tells the pool of a silent server.
    bool try_again(Pool::Lent& connection, const DatabaseError& error, bool begun, int attempt);
    static void roll_back(Pool::Lent& connection);

    Pool pool_;
};

// LIMIT and OFFSET (both databases take them in this order), their values
// appended to params; a limit of 0 or less: none.
std::string page_clause(int offset, int limit, std::vector<Value>& params);

// Calls each with the values in consecutive parts of at most kBatchValues
// and their placeholders, placeholder once per value separated by ", "
// ("?" for an IN list, "(?)" for the rows of VALUES): a statement takes a
// bounded number of parameters.
constexpr size_t kBatchValues = 500;
void in_batches(
    const std::vector<Value>& values, const char* placeholder,
    const std::function<void(const std::vector<Value>& part, const std::string& placeholders)>& each);

// The text with LIKE's wildcards and the escape character '!' escaped.
std::string like_escaped(const std::string& text);

// Optional texts as a column: NULL for none.
Value nullable(const std::optional<std::string>& text);
std::optional<std::string> optional_text(const Value& value);

// Optional bytes kept as a blob (MQTT correlation data).
Value blob_of(const std::optional<std::string>& text);
std::optional<std::string> text_of_blob(const Value& value);

}  // namespace doorlinkd
