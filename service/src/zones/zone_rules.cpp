#include "zones/zone_rules.h"

#include <date/ptz.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "zones/zones.h"

namespace doorlinkd {
namespace {

// The rule after a zone file's last change: the file's last line, in files of
// version 2 and later ("TZif2..."). None where the file has none, or one the
// library cannot read (hours outside 0 to 24, as in America/Nuuk's): there the
// last period of the file goes on.
std::unique_ptr<const Posix::time_zone> last_rule(const std::string& name) {
    std::ifstream file(std::string(kZoneDirectory) + "/" + name, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (data.size() < 6 || data.compare(0, 4, "TZif") != 0 || data[4] == '\0' || data.back() != '\n') {
        return nullptr;
    }
    const size_t start = data.rfind('\n', data.size() - 2);
    const std::string rule = data.substr(start + 1, data.size() - start - 2);
    if (rule.empty()) return nullptr;
    try {
        return std::make_unique<const Posix::time_zone>(rule);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

}  // namespace

ZoneRules::ZoneRules(const date::time_zone* zone, std::unique_ptr<const Posix::time_zone> lastRule)
    : zone_(zone), lastRule_(std::move(lastRule)) {
    using namespace date;
    lastPeriodBegins_ = zone_->get_info(sys_days{year{30000} / 1 / 1}).begin;
}

ZoneRules::~ZoneRules() = default;

const ZoneRules* ZoneRules::find(const std::string& name) {
    // Only the database's names come in: at most some hundreds of entries.
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<const ZoneRules>> known;
    const std::lock_guard<std::mutex> lock(mutex);
    const auto found = known.find(name);
    if (found != known.end()) return found->second.get();
    const date::time_zone* zone = nullptr;
    try {
        zone = date::locate_zone(name);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
    return known.emplace(name, std::make_unique<const ZoneRules>(zone, last_rule(name))).first->second.get();
}

date::sys_info ZoneRules::at(date::sys_seconds instant) const {
    if (!lastRule_ || instant < lastPeriodBegins_) return zone_->get_info(instant);
    date::sys_info info = lastRule_->get_info(instant);
    if (info.begin < lastPeriodBegins_) info.begin = lastPeriodBegins_;
    return info;
}

date::local_info ZoneRules::at(date::local_seconds localTime) const {
    date::local_info info = zone_->get_info(localTime);
    // A time the file maps to its last period alone is the last rule's; the
    // rule agrees with the file's last change, so around it the file answers.
    const bool inLastPeriod =
        info.result == date::local_info::unique && info.first.begin == lastPeriodBegins_;
    if (!lastRule_ || !inLastPeriod) return info;
    return lastRule_->get_info(localTime);
}

}  // namespace doorlinkd
