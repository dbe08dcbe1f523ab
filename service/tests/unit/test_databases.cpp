#include "unit/test_databases.h"

#include <libpq-fe.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

namespace doorlinkd {
namespace test {
namespace {

const char* postgres_dir() {
    const char* dir = std::getenv("DOORLINKD_TEST_POSTGRES");
    return dir && *dir ? dir : nullptr;
}

std::string socket_directory() {
    const char* dir = postgres_dir();
    if (!dir) throw std::runtime_error("DOORLINKD_TEST_POSTGRES is not set");
    std::ifstream in(std::string(dir) + "/socket_dir");
    std::string socket;
    if (!std::getline(in, socket) || socket.empty()) {
        throw std::runtime_error(std::string("no PostgreSQL server was started in ") + dir +
                                 " (service/tests/scripts/postgres.sh start " + dir + ")");
    }
    return socket;
}

std::string uri_of(const std::string& database) {
    return "postgresql:///" + database + "?host=" + socket_directory() + "&user=postgres";
}

// Runs one statement in the maintenance database.
void admin(const std::string& sql) {
    const std::string uri = postgres_admin_uri();
    PGconn* conn = PQconnectdb(uri.c_str());
    std::string error;
    if (PQstatus(conn) != CONNECTION_OK) {
        error = "cannot connect to " + uri + ": " + PQerrorMessage(conn);
    } else {
        PGresult* res = PQexec(conn, sql.c_str());
        if (PQresultStatus(res) != PGRES_COMMAND_OK) error = sql + ": " + PQresultErrorMessage(res);
        PQclear(res);
    }
    PQfinish(conn);
    if (!error.empty()) throw std::runtime_error(error);
}

std::string unique_suffix() {
    static std::atomic<int> counter{0};
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return std::to_string(getpid()) + "_" + std::to_string(counter++) + "_" +
           std::to_string(now % 1000000000);
}

}  // namespace

std::string unavailable_reason(const std::string& backend) {
    if (backend == "sqlite") return "";
    if (backend == "postgresql") {
        if (postgres_dir()) return "";
        return "DOORLINKD_TEST_POSTGRES is not set: PostgreSQL is not tested (ctest sets it; by hand run "
               "service/tests/scripts/postgres.sh start DIR and set DOORLINKD_TEST_POSTGRES=DIR)";
    }
    return "unknown backend " + backend;
}

std::string postgres_admin_uri() { return uri_of("postgres"); }

TestDatabase::TestDatabase(const std::string& backend) : backend_(backend) {
    if (backend == "sqlite") {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/doorlinkd-test.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern + " failed");
        directory_ = pattern;
        name_ = directory_ + "/doorlinkd.db";
        location_ = "sqlite:" + name_;
    } else if (backend == "postgresql") {
        name_ = "doorlinkd_test_" + unique_suffix();
        admin("CREATE DATABASE " + name_);
        location_ = uri_of(name_);
    } else {
        throw std::runtime_error("unknown backend " + backend);
    }
}

TestDatabase::~TestDatabase() {
    try {
        if (backend_ == "sqlite") {
            std::error_code ignored;
            std::filesystem::remove_all(directory_, ignored);
        } else {
            admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
        }
    } catch (const std::exception&) {
        // Gone with the test cluster.
    }
}

std::string fresh_database(const std::string& backend) {
    static std::mutex mutex;
    static std::vector<std::unique_ptr<TestDatabase>> databases;  // removed at exit
    auto database = std::make_unique<TestDatabase>(backend);
    std::string location = database->location();
    std::lock_guard<std::mutex> lock(mutex);
    databases.push_back(std::move(database));
    return location;
}

}  // namespace test
}  // namespace doorlinkd
