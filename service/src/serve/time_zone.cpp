#include "serve/time_zone.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <fstream>

#include "model/errors.h"

namespace doorlinkd {
namespace {

constexpr size_t kMaxZoneName = 64;

bool is_zone_character(unsigned char c) {
    return std::isalnum(c) || c == '/' || c == '_' || c == '-' || c == '+' || c == '.';
}

// Zone files open with the magic "TZif".
bool is_zone_file(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    std::ifstream file(path, std::ios::binary);
    char magic[4] = {};
    return file.read(magic, sizeof magic) && std::string(magic, sizeof magic) == "TZif";
}

}  // namespace

std::string time_zone_problem(const std::string& zone, const std::string& directory) {
    if (zone.empty() || zone.size() > kMaxZoneName || zone.front() == '/' || zone.back() == '/' ||
        zone.find("..") != std::string::npos || zone.find("//") != std::string::npos ||
        !std::all_of(zone.begin(), zone.end(), is_zone_character)) {
        return "\"" + zone + "\" is no time zone name such as Europe/Berlin or UTC";
    }
    if (!is_zone_file(directory + "/" + zone)) {
        return "no time zone \"" + zone + "\" in " + directory;
    }
    return "";
}

void use_time_zone(const std::string& zone, const std::string& directory) {
    const std::string problem = time_zone_problem(zone, directory);
    if (!problem.empty()) throw Refused(problem);
    // The file by its path: the zone checked is the zone used, whatever TZDIR says.
    // NOLINTNEXTLINE(concurrency-mt-unsafe): before any thread starts
    if (::setenv("TZ", (":" + directory + "/" + zone).c_str(), 1) != 0) {
        throw StoreError("cannot set the time zone " + zone);
    }
    tzset();  // NOLINT(concurrency-mt-unsafe): before any thread starts
}

}  // namespace doorlinkd
