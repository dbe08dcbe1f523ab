// The sites and the controllers each holds.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/site.h"

namespace doorlinkd {

class Database;
class Tx;

// NotFound unless the site exists. lock: "" or a row lock token
// ("{for_key_share}": the site cannot go until the transaction ends).
void require_site(Tx& tx, const std::string& name, const char* lock);

class SiteStore {
public:
    virtual ~SiteStore() = default;

    // Sites, in name order.
    virtual std::vector<Site> sites() = 0;
    virtual std::optional<Site> site(const std::string& name) = 0;
    // Refused when the name is no site name or is taken, or the zone is
    // no zone.
    virtual void add_site(const Site& site) = 0;
    // Sets what is given and returns the site; NotFound when the site is
    // unknown, Refused when the zone is no zone.
    virtual Site set_site(const std::string& name, const std::optional<std::string>& zone,
                          const std::optional<std::string>& description) = 0;
    // Refused, naming them, while controllers belong to it; NotFound when
    // unknown.
    virtual void remove_site(const std::string& name) = 0;
    // Moves a controller to another site; NotFound when either is unknown.
    virtual void move_controller(const std::string& controller, const std::string& site) = 0;
};

class SqlSites : public virtual SiteStore {
public:
    explicit SqlSites(Database& database) : db_(database) {}

    std::vector<Site> sites() override;
    std::optional<Site> site(const std::string& name) override;
    void add_site(const Site& site) override;
    Site set_site(const std::string& name, const std::optional<std::string>& zone,
                  const std::optional<std::string>& description) override;
    void remove_site(const std::string& name) override;
    void move_controller(const std::string& controller, const std::string& site) override;

private:
    Database& db_;
};

}  // namespace doorlinkd
