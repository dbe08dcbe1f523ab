#include "store/controllers.h"

#include "store/card_rows.h"
#include "store/database.h"
#include "store/policy.h"
#include "store/sites.h"

namespace doorlinkd {

namespace {

// With the zone of its site, which a controller cannot be without.
constexpr const char* kSelectController =
    "SELECT c.name, c.address, c.mac, c.number, c.long_records, c.photos, c.site, s.zone, c.lossy"
    " FROM controllers c JOIN sites s ON s.name = c.site";

Controller controller_of(const Row& row) {
    Controller c;
    c.name = row.at(0).text();
    c.address = row.at(1).text();
    c.mac = row.at(2).text();
    c.number = static_cast<int>(row.at(3).integer());
    c.longRecords = row.at(4).integer() != 0;
    c.photos = row.at(5).integer() != 0;
    c.site = row.at(6).text();
    c.zone = row.at(7).text();
    c.lossy = row.at(8).integer() != 0;
    return c;
}

}  // namespace

std::vector<Controller> SqlControllers::controllers() {
    return db_.transaction(false, [](Tx& tx) {
        std::vector<Controller> out;
        for (const Row& row : tx.rows(kSelectController + std::string(" ORDER BY c.name"))) {
            out.push_back(controller_of(row));
        }
        return out;
    });
}

std::optional<Controller> SqlControllers::controller(const std::string& name) {
    return db_.transaction(false, [&](Tx& tx) -> std::optional<Controller> {
        const auto rows = tx.rows(kSelectController + std::string(" WHERE c.name = ?"), {name});
        if (rows.empty()) return std::nullopt;
        return controller_of(rows.front());
    });
}

void SqlControllers::add_controller(const Controller& c, bool reuseRetiredNumber) {
    db_.transaction(true, [&](Tx& tx) {
        if (tx.any("SELECT 1 FROM controllers WHERE name = ?", {c.name})) {
            throw Refused("a controller named " + c.name + " exists already");
        }
        // Its site stays until the controller is in.
        require_site(tx, c.site, "{for_key_share}");
        const std::string number = std::to_string(c.number);
        const auto holders = tx.rows("SELECT name FROM controllers WHERE number = ?", {c.number});
        if (!holders.empty()) {
            throw Refused("controller number " + number + " is taken by " + holders.front().at(0).text());
        }
        const auto retired = tx.rows("SELECT controller FROM retired_numbers WHERE number = ?", {c.number});
        if (!retired.empty()) {
            if (!reuseRetiredNumber) {
                throw Refused("controller number " + number + " was " + retired.front().at(0).text() +
                              "'s, which was removed: journal files left under number " + number +
                              " on any instance would be imported as the records of " + c.name +
                              "; --reuse-number (\"reuse_number\": true) takes it all the same");
            }
            tx.exec("DELETE FROM retired_numbers WHERE number = ?", {c.number});
        }
        try {
            tx.exec(
                "INSERT INTO controllers (name, address, mac, number, long_records, photos, site, lossy)"
                " VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                {c.name, c.address, c.mac, c.number, c.longRecords, c.photos, c.site, c.lossy});
        } catch (const DatabaseError& error) {
            // Another process added one in between.
            if (error.kind() != DatabaseError::Kind::Unique) throw;
            throw Refused("a controller named " + c.name + " or numbered " + std::to_string(c.number) +
                          " exists already");
        }
        // Its scheduled syncs compile the policy of now until a plan is applied.
        tx.exec(
            "INSERT INTO controller_policy (controller, applied)"
            " SELECT ?, revision FROM policy_revision WHERE id = 1",
            {c.name});
        return 0;
    });
}

std::vector<std::string> SqlControllers::remove_controller(const std::string& name) {
    return db_.transaction(true, [&](Tx& tx) {
        if (!tx.any("SELECT 1 FROM controllers WHERE name = ?", {name})) {
            throw Refused("no controller named " + name);
        }
        // The cards' controllers are read and written one writer at a time.
        const std::vector<std::string> only = drop_controller_from_cards(tx, name, lock_policy_revision(tx));
        if (!only.empty()) return only;
        // Its number is retired: the journal files left under it are
        // still this controller's.
        tx.exec(
            "INSERT INTO retired_numbers (number, controller, photos, retired)"
            " SELECT number, name, photos, {now_ms} FROM controllers WHERE name = ?"
            " ON CONFLICT (number) DO UPDATE SET controller = excluded.controller,"
            " photos = excluded.photos, retired = excluded.retired",
            {name});
        tx.exec("DELETE FROM controller_policy WHERE controller = ?", {name});
        tx.exec("DELETE FROM controllers WHERE name = ?", {name});
        return only;
    });
}

void SqlControllers::set_lossy(const std::string& name, bool lossy) {
    db_.transaction(true, [&](Tx& tx) {
        if (tx.exec("UPDATE controllers SET lossy = ? WHERE name = ?", {lossy, name}).changes == 0) {
            throw NotFound("no controller named " + name);
        }
        return 0;
    });
}

std::vector<RetiredNumber> SqlControllers::retired_numbers() {
    return db_.transaction(false, [](Tx& tx) {
        std::vector<RetiredNumber> out;
        for (const Row& row :
             tx.rows("SELECT number, controller, photos, retired FROM retired_numbers ORDER BY number")) {
            out.push_back(RetiredNumber{static_cast<int>(row.at(0).integer()), row.at(1).text(),
                                        row.at(2).integer() != 0, row.at(3).integer()});
        }
        return out;
    });
}

}  // namespace doorlinkd
