#include "serve/served_controllers.h"

#include <algorithm>
#include <set>

namespace doorlinkd {

void require_sites(Store& store, const std::vector<std::string>& sites) {
    std::vector<std::string> known;
    for (const Site& site : store.sites()) known.push_back(site.name);
    for (const std::string& site : sites) {
        if (std::find(known.begin(), known.end(), site) == known.end()) {
            throw Refused("site (--site): no site named " + site + "; the sites are: " + join_words(known));
        }
    }
}

std::vector<Controller> ServedControllers::refresh() {
    const std::vector<Controller> all = store_.controllers();
    std::map<std::string, Controller> served;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        served = served_;
    }
    std::vector<Controller> taken;
    std::set<std::string> inStore;
    // What was taken stays known also when the database fails on the way:
    // each hold is given back once.
    struct Keep {
        ServedControllers& self;
        std::map<std::string, Controller>& served;
        ~Keep() {
            std::lock_guard<std::mutex> lock(self.mutex_);
            self.served_ = served;
        }
    } keep{*this, served};
    for (const Controller& controller : all) {
        inStore.insert(controller.name);
        auto it = served.find(controller.name);
        if (it != served.end() && !leases_.serves(controller.site)) {
            // Moved to a site this instance does not serve.
            leases_.release(controller.name);
            served.erase(it);
            continue;
        }
        if (it != served.end()) {
            try {
                leases_.check(controller.name);
                it->second = controller;
                continue;
            } catch (const LeaseLost&) {
                // Another owner has it, or it could not be renewed: let go
                // of our hold, and take it again once it is free.
                leases_.release(controller.name);
                served.erase(it);
            }
        }
        if (leases_.take(controller)) {
            served[controller.name] = controller;
            taken.push_back(controller);
        }
    }
    for (auto it = served.begin(); it != served.end();) {
        if (inStore.count(it->first)) {
            ++it;
            continue;
        }
        leases_.release(it->first);
        it = served.erase(it);
    }
    return taken;
}

void ServedControllers::release_all() {
    std::map<std::string, Controller> served;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        served.swap(served_);
    }
    for (const auto& entry : served) {
        try {
            leases_.release(entry.first);
        } catch (const std::exception&) {
            // It expires on its own.
        }
    }
}

std::vector<Controller> ServedControllers::controllers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Controller> out;
    out.reserve(served_.size());
    for (const auto& entry : served_) out.push_back(entry.second);
    return out;
}

std::vector<std::string> ServedControllers::names() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.reserve(served_.size());
    for (const auto& entry : served_) out.push_back(entry.first);
    return out;
}

}  // namespace doorlinkd
