// Fresh databases for tests, of either backend: "sqlite" (a file in a
// temporary directory) or "postgresql" (a database of its own in the
// cluster of service/tests/scripts/postgres.sh, named by the environment
// variable DOORLINKD_TEST_POSTGRES, which holds that script's DIR).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace doorlinkd {
namespace test {

// The backends every store test runs on.
inline const std::vector<std::string>& backends() {
    static const std::vector<std::string> names = {"sqlite", "postgresql"};
    return names;
}

// Why databases of the backend cannot be had here (for GTEST_SKIP), or
// empty when they can: PostgreSQL needs DOORLINKD_TEST_POSTGRES.
std::string unavailable_reason(const std::string& backend);

// The URI of the PostgreSQL cluster's maintenance database "postgres".
// Throws std::runtime_error without DOORLINKD_TEST_POSTGRES.
std::string postgres_admin_uri();

// A fresh, empty database (no schema) for one test; removed with it.
// Throws std::runtime_error when it cannot be made.
class TestDatabase {
public:
    explicit TestDatabase(const std::string& backend);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    const std::string& backend() const { return backend_; }
    // The location for Store::open and `doorlinkd --database`.
    const std::string& location() const { return location_; }
    // SQLite: the database file; PostgreSQL: the database's name.
    const std::string& name() const { return name_; }
    // SQLite: the directory that holds the file (removed with it).
    const std::string& directory() const { return directory_; }

private:
    std::string backend_;
    std::string location_;
    std::string name_;
    std::string directory_;
};

// The location of a fresh database of the backend that lasts until the
// test program ends (then it is removed), for tests that only need a
// location string.
std::string fresh_database(const std::string& backend);

}  // namespace test
}  // namespace doorlinkd
