// Leases: one owner drives a controller at a time.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/site.h"

namespace doorlinkd {

class Database;

// The leases are keyed by text: besides controller names, "@outbox" is the
// lease of the instance that publishes the outbox.
class LeaseStore {
public:
    virtual ~LeaseStore() = default;

    // Takes a free or expired lease, or renews one the owner holds, for
    // `seconds` from the database's clock; false when another owner holds it.
    virtual bool take_lease(const std::string& controller, const std::string& owner, int seconds) = 0;
    virtual void release_lease(const std::string& controller, const std::string& owner) = 0;
    // The owner of a lease that has not expired.
    virtual std::optional<std::string> lease_holder(const std::string& controller) = 0;

    // What an instance of serve drives: its sites (empty: every site), for
    // `seconds` from the database's clock, in place of what the owner
    // announced before. Said again while it serves, as a lease is renewed.
    virtual void announce_sites(const std::string& owner, const std::vector<std::string>& sites,
                                int seconds) = 0;
    virtual void withdraw_sites(const std::string& owner) = 0;
    // The sites of every announcement that has not expired.
    virtual ServedSites served_sites() = 0;
};

class SqlLeases : public virtual LeaseStore {
public:
    explicit SqlLeases(Database& database) : db_(database) {}

    bool take_lease(const std::string& controller, const std::string& owner, int seconds) override;
    void release_lease(const std::string& controller, const std::string& owner) override;
    std::optional<std::string> lease_holder(const std::string& controller) override;
    void announce_sites(const std::string& owner, const std::vector<std::string>& sites,
                        int seconds) override;
    void withdraw_sites(const std::string& owner) override;
    ServedSites served_sites() override;

private:
    Database& db_;
};

}  // namespace doorlinkd
