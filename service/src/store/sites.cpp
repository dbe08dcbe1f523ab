#include "store/sites.h"

#include <algorithm>

#include "model/card.h"
#include "model/controller.h"
#include "model/errors.h"
#include "store/database.h"
#include "store/policy.h"
#include "zones/zones.h"

namespace doorlinkd {

namespace {

// A description is shown in lists and on the page: a line of text.
constexpr size_t kMaxDescription = 200;

void require_description(const std::string& description) {
    const bool control = std::any_of(description.begin(), description.end(),
                                     [](unsigned char c) { return c < 0x20 || c == 0x7f; });
    if (description.size() > kMaxDescription || control) {
        throw Refused("a site's description is one line of at most " + std::to_string(kMaxDescription) +
                      " bytes");
    }
}

}  // namespace

void require_site(Tx& tx, const std::string& name, const char* lock) {
    if (!tx.any("SELECT 1 FROM sites WHERE name = ? " + std::string(lock), {name})) {
        throw NotFound("no site named " + name);
    }
}

namespace {

Site site_of(const Row& row) { return Site{row.at(0).text(), row.at(1).text(), row.at(2).text()}; }

constexpr const char* kSelectSite = "SELECT name, zone, description FROM sites";

}  // namespace

std::vector<Site> SqlSites::sites() {
    return db_.transaction(false, [](Tx& tx) {
        std::vector<Site> out;
        for (const Row& row : tx.rows(kSelectSite + std::string(" ORDER BY name")))
            out.push_back(site_of(row));
        return out;
    });
}

std::optional<Site> SqlSites::site(const std::string& name) {
    return db_.transaction(false, [&](Tx& tx) -> std::optional<Site> {
        const auto rows = tx.rows(kSelectSite + std::string(" WHERE name = ?"), {name});
        if (rows.empty()) return std::nullopt;
        return site_of(rows.front());
    });
}

void SqlSites::add_site(const Site& site) {
    if (!is_controller_name(site.name)) {
        throw Refused("a site name is 1 to 32 of letters, digits, '-', '_' and '.': " + site.name);
    }
    require_zone(site.zone);
    require_description(site.description);
    db_.transaction(true, [&](Tx& tx) {
        next_policy_revision(tx, lock_policy_revision(tx));  // a site is part of the policy
        const std::string taken = "a site named " + site.name + " exists already";
        if (tx.any("SELECT 1 FROM sites WHERE name = ?", {site.name})) throw Refused(taken);
        try {
            tx.exec("INSERT INTO sites (name, zone, description) VALUES (?, ?, ?)",
                    {site.name, site.zone, site.description});
        } catch (const DatabaseError& error) {
            // Another process added it in between.
            if (error.kind() != DatabaseError::Kind::Unique) throw;
            throw Refused(taken);
        }
        return 0;
    });
}

Site SqlSites::set_site(const std::string& name, const std::optional<std::string>& zone,
                        const std::optional<std::string>& description) {
    if (zone) require_zone(*zone);
    if (description) require_description(*description);
    return db_.transaction(true, [&](Tx& tx) {
        require_site(tx, name, "");
        next_policy_revision(tx, lock_policy_revision(tx));
        if (zone) tx.exec("UPDATE sites SET zone = ? WHERE name = ?", {*zone, name});
        if (description) tx.exec("UPDATE sites SET description = ? WHERE name = ?", {*description, name});
        return site_of(tx.rows(kSelectSite + std::string(" WHERE name = ?"), {name}).at(0));
    });
}

void SqlSites::remove_site(const std::string& name) {
    db_.transaction(true, [&](Tx& tx) {
        // Locked first: a controller added or moved to it meanwhile waits, and is seen.
        require_site(tx, name, "{for_update}");
        next_policy_revision(tx, lock_policy_revision(tx));
        std::vector<std::string> members;
        for (const Row& row : tx.rows("SELECT name FROM controllers WHERE site = ? ORDER BY name", {name})) {
            members.push_back(row.at(0).text());
        }
        if (!members.empty()) {
            throw Refused("site " + name + " still has controllers: " + join_words(members));
        }
        tx.exec("DELETE FROM sites WHERE name = ?", {name});
        return 0;
    });
}

void SqlSites::move_controller(const std::string& controller, const std::string& site) {
    db_.transaction(true, [&](Tx& tx) {
        require_site(tx, site, "{for_key_share}");
        if (tx.exec("UPDATE controllers SET site = ? WHERE name = ?", {site, controller}).changes == 0) {
            throw NotFound("no controller named " + controller);
        }
        return 0;
    });
}

}  // namespace doorlinkd
