// One zone's offsets from UTC at any instant, and the zones looked up once
// per process. The database's files list each change up to 2037; the rule
// at the end of a file (a POSIX TZ string) tells the changes after it.
#pragma once

#include <date/tz.h>

#include <memory>
#include <string>

namespace Posix {
class time_zone;  // <date/ptz.h> defines functions: one file alone includes it
}

namespace doorlinkd {

class ZoneRules {
public:
    // The zone of that name, looked up once and kept for the process; null
    // when the database has no such zone. The name must have passed the
    // name checks of zone_problem. Safe from any thread.
    static const ZoneRules* find(const std::string& name);

    date::sys_info at(date::sys_seconds instant) const;
    date::local_info at(date::local_seconds localTime) const;

    ZoneRules(const date::time_zone* zone, std::unique_ptr<const Posix::time_zone> lastRule);
    ~ZoneRules();
    ZoneRules(const ZoneRules&) = delete;
    ZoneRules& operator=(const ZoneRules&) = delete;

private:
    const date::time_zone* zone_;
    // The rule from the end of the file on, if it has one the library reads,
    // and where the file's last period begins.
    std::unique_ptr<const Posix::time_zone> lastRule_;
    date::sys_seconds lastPeriodBegins_;
};

}  // namespace doorlinkd
