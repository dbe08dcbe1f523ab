// The controllers this instance serves: those whose leases it holds for as
// long as it runs. Instances sharing a database split the fleet this way: a
// controller whose lease another one holds is neither monitored nor
// scheduled here, and is taken over once that lease is free (its holder
// stopped, or died and the lease expired).
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "leases/lease_keeper.h"
#include "model/controller.h"
#include "store/store.h"

namespace doorlinkd {

// Refused, naming the sites there are, unless every site named exists.
void require_sites(Store& store, const std::vector<std::string>& sites);

class ServedControllers {
public:
    ServedControllers(Store& store, LeaseKeeper& leases) : store_(store), leases_(leases) {}
    ServedControllers(const ServedControllers&) = delete;
    ServedControllers& operator=(const ServedControllers&) = delete;

    // Takes the leases of the store's controllers that are free, at the
    // sites the lease keeper serves, and lets go of those removed from the
    // store, moved to another site or whose lease was lost; returns the
    // controllers newly taken.
    std::vector<Controller> refresh();
    // Lets go of every controller: a lease nothing else in the process holds
    // goes back at once (one an export still holds, when it ends).
    void release_all();
    // In name order.
    std::vector<Controller> controllers() const;
    std::vector<std::string> names() const;

private:
    Store& store_;
    LeaseKeeper& leases_;
    mutable std::mutex mutex_;
    std::map<std::string, Controller> served_;
};

}  // namespace doorlinkd
