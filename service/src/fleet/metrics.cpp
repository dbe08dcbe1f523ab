#include "fleet/metrics.h"

#include <sstream>

namespace doorlinkd {
namespace {

// Label values are controller names and fixed words; a quote, a backslash
// or a newline is escaped all the same.
std::string label(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

void heading(std::ostringstream& out, const char* name, const char* help, const char* type) {
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
}

template <class Key>
void family(std::ostringstream& out, const char* name, const char* help, const char* labelName,
            const std::map<Key, uint64_t>& values) {
    heading(out, name, help, "counter");
    for (const auto& [key, value] : values) {
        std::ostringstream keyText;
        keyText << key;
        out << name << '{' << labelName << "=\"" << label(keyText.str()) << "\"} " << value << '\n';
    }
}

void single(std::ostringstream& out, const char* name, const char* help, const char* type, uint64_t value) {
    heading(out, name, help, type);
    out << name << ' ' << value << '\n';
}

}  // namespace

void Metrics::exchange(const std::string& controller, bool ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++exchanges_[controller];
    if (!ok) ++failures_[controller];
}

void Metrics::sync_result(const std::string& status, int drift) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++syncResults_[status];
    drift_ += static_cast<uint64_t>(drift > 0 ? drift : 0);
}

void Metrics::sync_run() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++syncRuns_;
}

void Metrics::archive_run() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++archiveRuns_;
}

void Metrics::event(const std::string& kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++events_[kind];
}

void Metrics::mqtt_published() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++published_;
}

void Metrics::http_request(int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++httpRequests_[status];
}

std::string Metrics::prometheus_text(int64_t outboxDepth) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream out;
    family(out, "doorlinkd_exchanges_total", "Jobs done with a controller.", "controller", exchanges_);
    family(out, "doorlinkd_exchange_failures_total", "Jobs with a controller that failed.", "controller",
           failures_);
    single(out, "doorlinkd_sync_runs_total", "Sync runs started.", "counter", syncRuns_);
    family(out, "doorlinkd_sync_results_total", "Controllers synced, by result.", "status", syncResults_);
    single(out, "doorlinkd_sync_drift_total", "Drift rows found by syncs.", "counter", drift_);
    single(out, "doorlinkd_archive_runs_total", "Archive runs started.", "counter", archiveRuns_);
    family(out, "doorlinkd_events_total", "Events stored, by kind.", "kind", events_);
    single(out, "doorlinkd_mqtt_published_total", "Outbox messages the broker acknowledged.", "counter",
           published_);
    family(out, "doorlinkd_http_requests_total", "HTTP requests answered, by status.", "code", httpRequests_);
    single(out, "doorlinkd_outbox_depth", "Outbox messages not yet published.", "gauge",
           static_cast<uint64_t>(outboxDepth < 0 ? 0 : outboxDepth));
    return out.str();
}

std::string served_gauges_text(const std::vector<Controller>& controllers, const ServedSites& served) {
    std::ostringstream out;
    heading(out, "doorlinkd_controller_served", "1 while a live instance serves the controller's site.",
            "gauge");
    uint64_t unserved = 0;
    for (const Controller& c : controllers) {
        const bool serves = served.serves(c.site);
        if (!serves) ++unserved;
        out << "doorlinkd_controller_served{controller=\"" << label(c.name) << "\",site=\"" << label(c.site)
            << "\"} " << (serves ? 1 : 0) << '\n';
    }
    single(out, "doorlinkd_controllers_unserved", "Controllers whose site no live instance serves.", "gauge",
           unserved);
    return out.str();
}

}  // namespace doorlinkd
