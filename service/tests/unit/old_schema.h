// A database left by an older program, for the tests of the schema's
// upgrades: its schema as that program's steps made it.
#pragma once

#include <string>

#include "store/connection.h"
#include "store/schema.h"

namespace doorlinkd::test {

inline void make_schema(Connection& connection, int version) {
    connection.execute("CREATE TABLE schema_version (version INTEGER NOT NULL)");
    for (int step = 0; step < version; ++step) {
        for (const std::string& statement : upgrade_steps().at(static_cast<size_t>(step)))
            connection.execute(connection.dialect().expand(statement));
    }
    connection.execute("INSERT INTO schema_version (version) VALUES (?)", {version});
}

}  // namespace doorlinkd::test
