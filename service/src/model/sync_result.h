// The outcome of syncing one controller, as stored with its run and printed.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace doorlinkd {

// One difference between the database and a controller. field is a CSV
// column name; a card the controller lacks has field "card" and no
// controller value, a card the database does not hold (for that controller)
// has no database value.
struct Drift {
    std::string card;
    std::string field;
    std::optional<std::string> database;
    std::optional<std::string> controller;
};

enum class SyncStatus { InStep, Repaired, Drift, Unreachable, Busy };
const char* status_name(SyncStatus status);  // "in_step", "repaired", ...

struct SyncResult {
    std::string controller;
    SyncStatus status = SyncStatus::Unreachable;
    int cards = 0;  // the database's cards for the controller
    std::vector<Drift> drift;
    std::string message;  // what went wrong, for unreachable and busy
};

}  // namespace doorlinkd
