#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace doorlink::platform {

const char kPathSeparator = '/';

bool make_directory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool move_file(const std::string& from, const std::string& to) {
    // A hard link fails when the target exists; that is the rule wanted.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    // File systems without hard links: check, then rename.
    struct stat st {};
    if (::stat(to.c_str(), &st) == 0) return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool delete_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string executable_path() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::optional<std::string> module_directory_override() {
    const char* home = std::getenv("DOORLINK_HOME");
    if (!home || !*home) return std::nullopt;
    std::string dir = home;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

}  // namespace doorlink::platform
