// Pages of long lists as the API and the web page show them, and the
// summaries they show beside them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace doorlinkd {

// One page of a list and the length of the whole list.
template <class T>
struct Page {
    std::vector<T> items;
    int64_t total = 0;
};

struct SyncRunInfo {
    int64_t id = 0;
    int64_t started = 0;  // ms since the epoch
    std::string owner;
    bool checkOnly = false;
    int controllers = 0;  // results stored with the run
    int drift = 0;        // drift rows of all its results
    int failed = 0;       // results unreachable or busy
};

struct ArchiveRunInfo {
    int64_t id = 0;
    int64_t started = 0;  // ms since the epoch
    std::string owner;
    int controllers = 0;
    int records = 0;  // stored by the run
    int photos = 0;
};

// The latest sync and archive of a controller, for the controllers page.
struct ControllerSummary {
    std::string controller;
    std::optional<int64_t> lastSync;  // ms since the epoch of its run
    std::string syncStatus;           // "" when never synced
    int drift = 0;
    std::optional<int64_t> lastArchive;
    std::string archiveStatus;  // "" when never archived
    int archivedRecords = 0;    // by the latest archive
};

// What retention removed.
struct Removed {
    int64_t records = 0, photos = 0, events = 0, audit = 0, outbox = 0;
};

}  // namespace doorlinkd
