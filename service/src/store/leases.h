// Leases: one owner drives a controller at a time.
#pragma once

#include <optional>
#include <string>

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
};

class SqlLeases : public virtual LeaseStore {
public:
    explicit SqlLeases(Database& database) : db_(database) {}

    bool take_lease(const std::string& controller, const std::string& owner, int seconds) override;
    void release_lease(const std::string& controller, const std::string& owner) override;
    std::optional<std::string> lease_holder(const std::string& controller) override;

private:
    Database& db_;
};

}  // namespace doorlinkd
