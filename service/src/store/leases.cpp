#include "store/leases.h"

#include "store/database.h"

namespace doorlinkd {

bool SqlLeases::take_lease(const std::string& controller, const std::string& owner, int seconds) {
    return db_.transaction(true, [&](Tx& tx) {
        // Taken when free or expired, renewed when the owner holds it;
        // otherwise the conflict updates nothing.
        return tx.exec(
                     "INSERT INTO leases (controller, owner, expires) VALUES (?, ?, {now_ms} + ?)"
                     " ON CONFLICT (controller) DO UPDATE SET owner = excluded.owner,"
                     " expires = excluded.expires"
                     " WHERE leases.expires <= {now_ms} OR leases.owner = excluded.owner",
                     {controller, owner, int64_t{seconds} * 1000})
                   .changes > 0;
    });
}

void SqlLeases::release_lease(const std::string& controller, const std::string& owner) {
    db_.transaction(true, [&](Tx& tx) {
        tx.exec("DELETE FROM leases WHERE controller = ? AND owner = ?", {controller, owner});
        return 0;
    });
}

std::optional<std::string> SqlLeases::lease_holder(const std::string& controller) {
    return db_.transaction(false, [&](Tx& tx) -> std::optional<std::string> {
        const auto rows =
            tx.rows("SELECT owner FROM leases WHERE controller = ? AND expires > {now_ms}", {controller});
        if (rows.empty()) return std::nullopt;
        return rows.front().at(0).text();
    });
}

}  // namespace doorlinkd
