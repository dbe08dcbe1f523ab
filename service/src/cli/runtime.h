// What a doorlinkd process sets up before a command runs: its data
// directory (the library's module directory), the kernel lock of the
// commands that drive controllers, and its lease owner name.
#pragma once

#include <ostream>
#include <string>

namespace doorlinkd {

// Makes the data directory (and its parents) and returns its absolute path.
// It is the user's alone (0700): one open to others is made so, which notes
// tells. Throws StoreError when it cannot.
std::string prepare_data_dir(const std::string& path, std::ostream& notes);

// The library reads DOORLINK_HOME once, when it loads, which is before
// main(). When it does not name the data directory, this sets it and
// executes the program again with the same arguments; it returns only when
// the library already uses the data directory (or throws StoreError).
void use_data_dir_for_library(const std::string& dataDir, char** argv);

// An exclusive flock on "<data directory>/doorlinkd.lock", held until the
// process ends (the kernel drops it when the process dies, so no lock
// outlives a crash or a power cut). The file names the holder.
class DataDirLock {
public:
    // Throws Busy naming the holder when another process holds it, and
    // StoreError when the file cannot be opened.
    DataDirLock(const std::string& dataDir, const std::string& command);
    ~DataDirLock();
    DataDirLock(const DataDirLock&) = delete;
    DataDirLock& operator=(const DataDirLock&) = delete;

private:
    int fd_ = -1;
};

// A lease owner name that no other process uses: the name (default: the
// host's), process id and a random part, so that a process id used again is
// still another owner.
std::string lease_owner_name(const std::string& name = "");

// The host's name ("unknown-host" when it has none).
std::string host_name();

}  // namespace doorlinkd
