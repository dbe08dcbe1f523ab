// The thin adapter under the store: one connection to a database, which
// executes a statement with parameters and returns its rows. The store's
// logic and its SQL are written once over it (the parts of store/store.h);
// a backend per database (store/sqlite, store/postgres) implements it.
//
// SQL is written with `?` placeholders (the PostgreSQL backend numbers them
// $1..$n) and with the tokens of Dialect::expand for what differs between
// the databases.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "model/errors.h"

namespace doorlinkd {

using Blob = std::vector<uint8_t>;

// A parameter or a column value: null, an integer, a text or a blob.
class Value {
public:
    Value() = default;
    Value(std::nullptr_t) {}
    Value(int64_t v) : v_(v) {}
    Value(std::optional<int64_t> v) {  // none: NULL
        if (v) v_ = *v;
    }
    Value(int v) : v_(int64_t{v}) {}
    Value(bool v) : v_(int64_t{v ? 1 : 0}) {}
    Value(std::string v) : v_(std::move(v)) {}
    Value(const char* v) : v_(std::string(v)) {}
    Value(Blob v) : v_(std::move(v)) {}

    bool is_null() const { return std::holds_alternative<std::monostate>(v_); }
    bool is_integer() const { return std::holds_alternative<int64_t>(v_); }
    bool is_text() const { return std::holds_alternative<std::string>(v_); }
    bool is_blob() const { return std::holds_alternative<Blob>(v_); }
    // Each throws StoreError when the value is of another kind.
    int64_t integer() const;
    const std::string& text() const;
    const Blob& blob() const;

private:
    std::variant<std::monostate, int64_t, std::string, Blob> v_;
};

using Row = std::vector<Value>;

struct Result {
    std::vector<Row> rows;
    int64_t changes = 0;  // rows inserted, updated or deleted by the statement
};

// A failure of the database, with what the store needs to tell apart.
class DatabaseError : public StoreError {
public:
    enum class Kind {
        Other,
        Unique,     // a unique or primary key constraint
        Transient,  // a deadlock or serialisation failure: the transaction may be tried again
        // The server did not answer in time and the connection was closed:
        // trying again would wait as long again.
        Silent,
    };
    DatabaseError(const std::string& what, Kind kind) : StoreError(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// What differs between the databases, for the SQL of the store.
struct Dialect {
    std::string name;   // "sqlite" or "postgresql"
    std::string text;   // a text column's type ({text})
    std::string blob;   // a blob column's type ({blob})
    std::string id;     // an auto-numbered 64-bit primary key column ({id})
    std::string nowMs;  // the database's clock in ms since the epoch ({now_ms})
    // The aggregate that joins texts with a separator, in the order its
    // rows come ({text_agg}(text, separator)).
    std::string textAgg;
    // A statement that tells whether a table exists: one parameter, the
    // table's name; a row when it does.
    std::string tableExists;
    // A statement taken first in a transaction that changes the schema, so
    // that two processes do not do it at once; empty where the write
    // transaction itself excludes the others.
    std::string schemaLock;
    // A statement with one text parameter that serialises the transactions
    // that pass the same text until they end; empty where write
    // transactions exclude each other anyway.
    std::string keyLock;
    // Row lock clauses that end a SELECT ({for_key_share}, {for_update}):
    // a row locked FOR KEY SHARE cannot be deleted, and one locked FOR
    // UPDATE cannot be locked so, until the locking transaction ends. Empty
    // where write transactions exclude each other anyway.
    std::string forKeyShare;
    std::string forUpdate;

    // The SQL with its tokens {text}, {blob}, {id}, {now_ms}, {text_agg},
    // {for_key_share} and {for_update} replaced.
    std::string expand(const std::string& sql) const;
};

class Connection {
public:
    virtual ~Connection() = default;
    virtual const Dialect& dialect() const = 0;
    // Runs the statement, handing each row to onRow as it comes (a large
    // result is never held whole); returns the rows the statement inserted,
    // updated or deleted. Throws DatabaseError; one of kind Silent leaves
    // the connection closed (not usable).
    virtual int64_t execute_each(const std::string& sql, const std::vector<Value>& params,
                                 const std::function<void(Row&&)>& onRow) = 0;
    // The same, with every row in the result.
    Result execute(const std::string& sql, const std::vector<Value>& params = {});
    // A transaction; `write` when it is to change something (SQLite takes
    // the write lock at once, so that two writers never meet halfway).
    virtual void begin(bool write) = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    // False once the connection is lost; the pool then drops it.
    virtual bool usable() const = 0;
    // An online copy of the whole database to a new file, outside any
    // transaction. Refused when the file exists, or where the backend has
    // no such copy (PostgreSQL: pg_dump makes one).
    virtual void backup_to(const std::string& file) = 0;
};

// What connects to the database of a location ("sqlite:PATH" or a libpq
// URI); throws Refused for another form. Each call of it opens a connection
// or throws StoreError with the database's own text (a DatabaseError of
// kind Silent when the server did not answer in time).
using Connector = std::function<std::unique_ptr<Connection>()>;
Connector connector(const std::string& location);

// The backends.
class SqliteDatabase;
std::unique_ptr<Connection> connect_sqlite(const std::shared_ptr<SqliteDatabase>& database);
std::shared_ptr<SqliteDatabase> sqlite_database(const std::string& path);
std::unique_ptr<Connection> connect_postgres(const std::string& uri);

// The location with any password in it replaced by "***", for messages.
std::string redact_location(const std::string& location);
// The passwords a libpq URI holds (in its user information or as password
// parameters), as written and percent-decoded; none are empty.
std::vector<std::string> location_secrets(const std::string& location);

}  // namespace doorlinkd
