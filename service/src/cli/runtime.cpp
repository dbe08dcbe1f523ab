#include "cli/runtime.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <random>

#include "model/errors.h"

namespace doorlinkd {
namespace {

std::string read_all(int fd) {
    std::string text;
    char buffer[512];
    ssize_t n;
    if (::lseek(fd, 0, SEEK_SET) != 0) return text;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    return text;
}

}  // namespace

std::string host_name() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "unknown-host";
    return name;
}

std::string prepare_data_dir(const std::string& path, std::ostream& notes) {
    std::error_code error;
    const bool made = std::filesystem::create_directories(path, error);
    if (error) throw StoreError("cannot make the data directory " + path + ": " + error.message());
    std::string absolute = std::filesystem::canonical(path, error).string();
    if (error) throw StoreError("cannot resolve the data directory " + path + ": " + error.message());
    // While a sync runs the library's list files there hold every card's
    // PIN, and a SQLite database there holds them all the time.
    struct stat info {};
    if (::stat(absolute.c_str(), &info) != 0) {
        throw StoreError("cannot read the mode of the data directory " + absolute + ": " + errno_text(errno));
    }
    const unsigned mode = info.st_mode & 07777;
    if ((mode & 077) == 0) return absolute;
    char modeText[8];
    std::snprintf(modeText, sizeof modeText, "%04o", mode);
    if (::chmod(absolute.c_str(), 0700) != 0) {
        throw StoreError("the data directory " + absolute + " is open to others (mode " + modeText +
                         ") and cannot be made 0700: " + errno_text(errno));
    }
    if (!made) {
        notes << "doorlinkd: the data directory " << absolute << " was open to others (mode " << modeText
              << "); it is now 0700" << std::endl;
    }
    return absolute;
}

void use_data_dir_for_library(const std::string& dataDir, char** argv) {
    const char* home = std::getenv("DOORLINK_HOME");  // NOLINT(concurrency-mt-unsafe): before any thread
    if (home && dataDir == home) return;
    if (home && std::getenv("DOORLINKD_REEXECUTED")) {  // NOLINT(concurrency-mt-unsafe)
        throw StoreError("the library does not take the data directory " + dataDir);
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): no thread runs yet
    if (::setenv("DOORLINK_HOME", dataDir.c_str(), 1) != 0 || ::setenv("DOORLINKD_REEXECUTED", "1", 1) != 0) {
        throw StoreError("cannot set DOORLINK_HOME");
    }
    ::execv("/proc/self/exe", argv);
    throw StoreError(std::string("cannot start doorlinkd again with its data directory: ") +
                     errno_text(errno));
}

DataDirLock::DataDirLock(const std::string& dataDir, const std::string& command) {
    const std::string path = dataDir + "/doorlinkd.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw StoreError("cannot open " + path + ": " + errno_text(errno));
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        std::string holder = read_all(fd_);
        ::close(fd_);
        fd_ = -1;
        if (error != EWOULDBLOCK) throw StoreError("cannot lock " + path + ": " + errno_text(error));
        if (holder.empty()) holder = "another process";
        throw Busy("the data directory " + dataDir + " is in use by " + holder);
    }
    char started[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S", &local);
    const std::string holder = "doorlinkd " + command + " (process " + std::to_string(::getpid()) + " on " +
                               host_name() + ", since " + started + ")\n";
    if (::ftruncate(fd_, 0) == 0) {
        ssize_t written = ::pwrite(fd_, holder.data(), holder.size(), 0);
        (void)written;  // the lock holds without the note
    }
}

DataDirLock::~DataDirLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::string lease_owner_name(const std::string& name) {
    std::random_device random;
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    return (name.empty() ? host_name() : name) + ":" + std::to_string(::getpid()) + ":" + part;
}

}  // namespace doorlinkd
