// The SQLite backend of the store's connection: a file in WAL mode, every
// commit synced (synchronous=FULL), foreign keys on, a writer that waits up
// to 30 s for another. Write transactions take the write lock when they
// begin (BEGIN IMMEDIATE); within one process they also queue on a mutex of
// the file, so that its threads wait in turn instead of polling the lock.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <unordered_map>

#include "store/connection.h"

namespace doorlinkd {

class SqliteDatabase {
public:
    explicit SqliteDatabase(std::string file) : path(std::move(file)) {}
    const std::string path;
    std::mutex writer;  // held by the connection of this process that writes
};

namespace {

constexpr int kBusyTimeoutMs = 30000;

const Dialect& sqlite_dialect() {
    static const Dialect dialect = [] {
        Dialect d;
        d.name = "sqlite";
        d.text = "TEXT";
        d.blob = "BLOB";
        d.id = "INTEGER PRIMARY KEY AUTOINCREMENT";
        d.nowMs = "CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)";
        d.textAgg = "group_concat";
        d.tableExists = "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?";
        return d;
    }();
    return dialect;
}

std::string parent_directory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

class SqliteConnection : public Connection {
public:
    explicit SqliteConnection(std::shared_ptr<SqliteDatabase> database) : database_(std::move(database)) {
        const std::string& path = database_->path;
        struct stat info {};
        const std::string directory = parent_directory(path);
        if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            throw StoreError("cannot open the SQLite database " + path + ": its directory " + directory +
                             " does not exist");
        }
        const int status = sqlite3_open_v2(
            path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (status != SQLITE_OK) {
            const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(status);
            sqlite3_close(db_);
            db_ = nullptr;
            throw StoreError("cannot open the SQLite database " + path + ": " + message);
        }
        sqlite3_extended_result_codes(db_, 1);
        try {
            sqlite3_busy_timeout(db_, kBusyTimeoutMs);
            // journal_mode answers with the mode in force; a read-only file
            // keeps the one it has.
            execute("PRAGMA journal_mode = WAL", {});
            execute("PRAGMA synchronous = FULL", {});
            execute("PRAGMA foreign_keys = ON", {});
        } catch (const StoreError&) {
            const std::string message = sqlite3_errmsg(db_);
            finalize_all();
            sqlite3_close(db_);
            db_ = nullptr;
            throw StoreError("cannot open the SQLite database " + path + ": " + message);
        }
    }

    ~SqliteConnection() override {
        finalize_all();
        sqlite3_close(db_);
    }
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    const Dialect& dialect() const override { return sqlite_dialect(); }

    int64_t execute_each(const std::string& sql, const std::vector<Value>& params,
                         const std::function<void(Row&&)>& onRow) override {
        sqlite3_stmt* statement = prepare(sql);
        // Leaves the statement reset and unbound on every path.
        struct Reset {
            sqlite3_stmt* s;
            ~Reset() {
                sqlite3_reset(s);
                sqlite3_clear_bindings(s);
            }
        } reset{statement};
        for (size_t i = 0; i < params.size(); ++i) bind(statement, static_cast<int>(i + 1), params[i]);
        for (;;) {
            const int status = sqlite3_step(statement);
            if (status == SQLITE_DONE) break;
            if (status != SQLITE_ROW) fail(status);
            const int columns = sqlite3_column_count(statement);
            Row row;
            row.reserve(columns);
            for (int c = 0; c < columns; ++c) row.push_back(column(statement, c));
            onRow(std::move(row));
        }
        return sqlite3_changes64(db_);
    }

    void begin(bool write) override {
        if (write) {
            writing_ = std::unique_lock<std::mutex>(database_->writer);
            try {
                execute("BEGIN IMMEDIATE", {});
            } catch (...) {
                writing_ = {};
                throw;
            }
        } else {
            execute("BEGIN", {});
        }
    }

    void commit() override {
        execute("COMMIT", {});
        writing_ = {};
    }

    void rollback() override {
        writing_ = {};
        if (!sqlite3_get_autocommit(db_)) execute("ROLLBACK", {});
    }

    bool usable() const override { return sqlite3_get_autocommit(db_) != 0; }

    void backup_to(const std::string& file) override {
        // Created here, so that an existing file is never overwritten; SQLite
        // takes an empty file for a new database.
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) throw Refused(file + " exists already: a backup goes to a new file");
            throw StoreError("cannot create " + file + ": " + errno_text(errno));
        }
        ::close(fd);
        const std::string failure = copy_into(file);
        if (!failure.empty()) {
            ::unlink(file.c_str());
            throw StoreError("cannot back up the SQLite database " + database_->path + " to " + file + ": " +
                             failure);
        }
    }

private:
    sqlite3_stmt* prepare(const std::string& sql) {
        auto found = statements_.find(sql);
        if (found != statements_.end()) return found->second;
        sqlite3_stmt* statement = nullptr;
        const int status =
            sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
        if (status != SQLITE_OK) fail(status);
        statements_.emplace(sql, statement);
        return statement;
    }

    void bind(sqlite3_stmt* statement, int index, const Value& value) {
        int status = SQLITE_OK;
        if (value.is_null()) {
            status = sqlite3_bind_null(statement, index);
        } else if (value.is_integer()) {
            status = sqlite3_bind_int64(statement, index, value.integer());
        } else if (value.is_text()) {
            const std::string& text = value.text();
            status = sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
        } else {
            // An empty blob is bound as one (a null pointer would bind NULL).
            const Blob& blob = value.blob();
            static const uint8_t kNothing = 0;
            status = sqlite3_bind_blob64(statement, index, blob.empty() ? &kNothing : blob.data(),
                                         blob.size(), SQLITE_TRANSIENT);
        }
        if (status != SQLITE_OK) fail(status);
    }

    static Value column(sqlite3_stmt* statement, int c) {
        switch (sqlite3_column_type(statement, c)) {
            case SQLITE_NULL: return Value();
            case SQLITE_INTEGER: return Value(static_cast<int64_t>(sqlite3_column_int64(statement, c)));
            case SQLITE_BLOB: {
                const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, c));
                const int size = sqlite3_column_bytes(statement, c);
                return Value(bytes ? Blob(bytes, bytes + size) : Blob());
            }
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
                const int size = sqlite3_column_bytes(statement, c);
                return Value(text ? std::string(text, static_cast<size_t>(size)) : std::string());
            }
        }
    }

    [[noreturn]] void fail(int status) {
        const int primary = status & 0xff;
        std::string message = sqlite3_errmsg(db_);
        if (primary == SQLITE_READONLY) {
            message = "the SQLite database " + database_->path + " cannot be written: " + message;
        } else if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
            message =
                "the SQLite database " + database_->path + " stayed locked by another process: " + message;
        } else {
            message = "SQLite database " + database_->path + ": " + message;
        }
        const bool unique = status == SQLITE_CONSTRAINT_UNIQUE || status == SQLITE_CONSTRAINT_PRIMARYKEY;
        throw DatabaseError(message, unique ? DatabaseError::Kind::Unique : DatabaseError::Kind::Other);
    }

    // Copies every page in one step (writers go on meanwhile: WAL); what
    // went wrong, or empty.
    std::string copy_into(const std::string& file) {
        sqlite3* target = nullptr;
        int status = sqlite3_open_v2(file.c_str(), &target, SQLITE_OPEN_READWRITE, nullptr);
        std::string failure;
        if (status != SQLITE_OK) {
            failure = target ? sqlite3_errmsg(target) : sqlite3_errstr(status);
        } else if (sqlite3_backup* backup = sqlite3_backup_init(target, "main", db_, "main")) {
            for (int attempt = 0; attempt < 100; ++attempt) {
                status = sqlite3_backup_step(backup, -1);
                if (status != SQLITE_BUSY && status != SQLITE_LOCKED) break;
                sqlite3_sleep(100);
            }
            sqlite3_backup_finish(backup);
            if (status != SQLITE_DONE) failure = sqlite3_errstr(status);
        } else {
            failure = sqlite3_errmsg(target);
        }
        if (sqlite3_close(target) != SQLITE_OK && failure.empty()) failure = "the copy could not be closed";
        return failure;
    }

    void finalize_all() {
        for (auto& entry : statements_) sqlite3_finalize(entry.second);
        statements_.clear();
    }

    std::shared_ptr<SqliteDatabase> database_;
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> statements_;
    std::unique_lock<std::mutex> writing_;
};

}  // namespace

std::shared_ptr<SqliteDatabase> sqlite_database(const std::string& path) {
    return std::make_shared<SqliteDatabase>(path);
}

std::unique_ptr<Connection> connect_sqlite(const std::shared_ptr<SqliteDatabase>& database) {
    return std::make_unique<SqliteConnection>(database);
}

}  // namespace doorlinkd
