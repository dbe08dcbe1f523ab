#include "platform/files.h"

#include <fcntl.h>
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
    // One call where the file system can rename without replacing.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
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

std::FILE* create_new_text_file(const std::string& path, bool& exists) {
    exists = false;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "w");
    if (!file) ::close(fd);
    return file;
}

bool resize_file(const std::string& path, long size) {
    if (size < 0) return false;
    int r;
    do {
        r = ::truncate(path.c_str(), static_cast<off_t>(size));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

std::string executable_path() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::optional<std::string> module_directory_override() {
    // Read once, when the library state is built; nothing in the library
    // sets the environment.
    const char* home = std::getenv("DOORLINK_HOME");  // NOLINT(concurrency-mt-unsafe)
    if (!home || !*home) return std::nullopt;
    std::string dir = home;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

}  // namespace doorlink::platform
