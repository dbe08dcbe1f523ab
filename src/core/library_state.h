// The process-wide state of the library, built once before the first export
// does any work: the host's executable path and module directory, the library
// lock, the conversion completion flags, the locks of the card list files,
// the optional local port range, the photos lately taken on each
// monitoring socket, the local ports of the sockets it holds open, and the
// adaptive wait's settings and round trips per controller.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/adaptive_wait.h"
#include "core/held_ports.h"
#include "core/recent_photos.h"
#include "platform/threads.h"

namespace doorlink::core {

struct PortRange {
    bool set = false;
    uint32_t start = 0;
    uint32_t end = 0;
};

// Reader-writer locks named by a number: made when first wanted, dropped
// when nobody holds or waits for them.
class NumberedLocks {
public:
    void lock(int32_t number, bool shared);
    void unlock(int32_t number, bool shared);

private:
    struct Entry {
        platform::SharedMutex mutex;
        int users = 0;  // holders and waiters
    };
    platform::Mutex tableLock_;
    std::map<int32_t, std::unique_ptr<Entry>> entries_;
};

class LibraryState {
public:
    static constexpr int kConversionFlags = 50;
    // The pause before each worker thread of a whole-list conversion starts.
    static constexpr uint32_t kWorkerStartPauseMs = 2000;

    // The one instance; the first call builds it.
    static LibraryState& get();

    const std::string& executable_path() const { return executablePath_; }
    // The directory of every data file, without a trailing separator.
    const std::string& module_directory() const { return moduleDirectory_; }

    // Held around the progress-key writes of the card list transfers, and
    // around each registry entry lookup with the entry write that follows it.
    platform::Mutex& lock() { return lock_; }

    std::atomic<uint32_t>& conversion_flag(int index) { return conversionFlags_[index]; }
    // Whole-list conversions share the flags, so they run one at a time.
    platform::Mutex& conversion_lock() { return conversionLock_; }
    // kWorkerStartPauseMs; tests and benchmarks shorten it (not exported).
    std::atomic<uint32_t>& worker_start_pause_ms() { return workerStartPauseMs_; }

    // The card list file of each list number: written by one conversion or
    // record from arguments alone, read by downloads together.
    NumberedLocks& list_locks() { return listLocks_; }
    // The photos DoorPic took lately on each monitoring socket.
    RecentPhotos& recent_photos() { return recentPhotos_; }
    // The local ports of the sockets the library holds open.
    HeldPorts& held_ports() { return heldPorts_; }
    // The adaptive wait of each controller; DOORLINK_ADAPTIVE_WAIT (a lower
    // bound in milliseconds, 1..2000) switches it on for all when the state
    // is built.
    AdaptiveWaits& adaptive_waits() { return adaptiveWaits_; }

    PortRange port_range() const;
    // False, changing nothing, when either bound lies outside 0..65535.
    bool set_port_range(int32_t start, int32_t end);

private:
    LibraryState();

    std::string executablePath_;
    std::string moduleDirectory_;
    platform::Mutex lock_;
    std::atomic<uint32_t> conversionFlags_[kConversionFlags];
    platform::Mutex conversionLock_;
    std::atomic<uint32_t> workerStartPauseMs_{kWorkerStartPauseMs};
    NumberedLocks listLocks_;
    // Flag, start and end packed so that an opening reads them consistently.
    std::atomic<uint64_t> portRange_{0};
    RecentPhotos recentPhotos_;
    HeldPorts heldPorts_;
    AdaptiveWaits adaptiveWaits_;
};

// The module directory of an executable path: everything before its last
// separator among the first 500 characters; empty when there is none.
std::string module_directory_of(const std::string& executablePath, char separator);

}  // namespace doorlink::core
