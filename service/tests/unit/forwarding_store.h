// A lease store that hands every call to a real one: tests derive from it
// to stop, fail or watch single lease calls of a real database (the lease
// keeper needs only this part of the store).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "store/leases.h"

namespace doorlinkd {
namespace test {

class ForwardingStore : public LeaseStore {
public:
    explicit ForwardingStore(LeaseStore& inner) : inner_(inner) {}

    bool take_lease(const std::string& controller, const std::string& owner, int seconds) override {
        return inner_.take_lease(controller, owner, seconds);
    }
    void release_lease(const std::string& controller, const std::string& owner) override {
        inner_.release_lease(controller, owner);
    }
    std::optional<std::string> lease_holder(const std::string& controller) override {
        return inner_.lease_holder(controller);
    }
    void announce_sites(const std::string& owner, const std::vector<std::string>& sites,
                        int seconds) override {
        inner_.announce_sites(owner, sites, seconds);
    }
    void withdraw_sites(const std::string& owner) override { inner_.withdraw_sites(owner); }
    ServedSites served_sites() override { return inner_.served_sites(); }

private:
    LeaseStore& inner_;
};

}  // namespace test
}  // namespace doorlinkd
