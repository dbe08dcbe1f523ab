#include "store/leases.h"

#include "store/database.h"

namespace doorlinkd {
namespace {

// The site of the announcement of an instance that serves every site: no
// site name has a '*'.
constexpr const char* kEverySite = "*";

}  // namespace

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

void SqlLeases::announce_sites(const std::string& owner, const std::vector<std::string>& sites, int seconds) {
    db_.transaction(true, [&](Tx& tx) {
        // Expired announcements of any owner go too: an instance that died
        // leaves nothing behind for long.
        tx.exec("DELETE FROM served_sites WHERE owner = ? OR expires <= {now_ms}", {owner});
        const std::vector<std::string> every = {kEverySite};
        for (const std::string& site : sites.empty() ? every : sites) {
            tx.exec(
                "INSERT INTO served_sites (owner, site, expires) VALUES (?, ?, {now_ms} + ?)"
                " ON CONFLICT (owner, site) DO NOTHING",
                {owner, site, int64_t{seconds} * 1000});
        }
        return 0;
    });
}

void SqlLeases::withdraw_sites(const std::string& owner) {
    db_.transaction(true, [&](Tx& tx) {
        tx.exec("DELETE FROM served_sites WHERE owner = ?", {owner});
        return 0;
    });
}

ServedSites SqlLeases::served_sites() {
    return db_.transaction(false, [&](Tx& tx) {
        ServedSites served;
        for (const Row& row : tx.rows("SELECT DISTINCT site FROM served_sites WHERE expires > {now_ms}")) {
            const std::string site = row.at(0).text();
            if (site == kEverySite) {
                served.all = true;
            } else {
                served.names.insert(site);
            }
        }
        return served;
    });
}

}  // namespace doorlinkd
