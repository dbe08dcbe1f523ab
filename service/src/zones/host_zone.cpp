#include "zones/host_zone.h"

#include <filesystem>

#include "zones/zones.h"

namespace doorlinkd {

std::string host_time_zone(const char* tz, const std::string& localtime) {
    if (tz != nullptr) {
        std::string name = tz;
        if (!name.empty() && name.front() == ':') name.erase(0, 1);
        if (!name.empty() && zone_problem(name).empty()) return name;
    }
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path link = localtime;
    const fs::path target = fs::read_symlink(link, error);
    if (!error) {
        // A relative link is relative to the link's directory.
        const std::string resolved = (link.parent_path() / target).lexically_normal().string();
        const std::string prefix = std::string(kZoneDirectory) + "/";
        if (resolved.compare(0, prefix.size(), prefix) == 0) {
            const std::string name = resolved.substr(prefix.size());
            if (zone_problem(name).empty()) return name;
        }
    }
    return "UTC";
}

}  // namespace doorlinkd
