// The service's counters, shown by GET /metrics in Prometheus' text format.
// Counted since the process started; every method is thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "model/controller.h"
#include "model/site.h"

namespace doorlinkd {

class Metrics {
public:
    // One job done with a controller (a status, an opening, a clock, a
    // monitoring arm, a sync or an archive of it): ok or failed.
    void exchange(const std::string& controller, bool ok);
    // A controller's sync finished with this status and drift rows.
    void sync_result(const std::string& status, int drift);
    void sync_run();
    void archive_run();
    void event(const std::string& kind);
    void mqtt_published();
    void http_request(int status);

    // The text of GET /metrics; the outbox depth is read by the caller.
    std::string prometheus_text(int64_t outboxDepth) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, uint64_t> exchanges_, failures_;  // by controller
    std::map<std::string, uint64_t> syncResults_;           // by status
    std::map<std::string, uint64_t> events_;                // by kind
    std::map<int, uint64_t> httpRequests_;                  // by status
    uint64_t syncRuns_ = 0, archiveRuns_ = 0, drift_ = 0, published_ = 0;
};

// The gauges of what the database tells, read by the caller: whether a live
// instance serves each controller's site, and how many are unserved.
std::string served_gauges_text(const std::vector<Controller>& controllers, const ServedSites& served);

}  // namespace doorlinkd
