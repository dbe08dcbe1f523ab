#include "sync/list_numbers.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "model/errors.h"

namespace doorlinkd {
namespace {

// Numbers locked by other processes come free without a word here: look
// again this often while every number is taken.
constexpr auto kLookAgain = std::chrono::milliseconds(100);

struct Lending {
    std::mutex mutex;
    std::condition_variable returned;
    std::array<bool, kListNumbers> lent{};
};

Lending& lending() {
    static Lending instance;
    return instance;
}

std::string lock_path(const std::string& directory, int number) {
    char name[32];
    std::snprintf(name, sizeof name, "/list%03d.lock", number);
    return directory + name;
}

// The locked file of the number, or -1 while another process holds it.
int lock_number(const std::string& directory, int number) {
    const std::string path = lock_path(directory, number);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw StoreError("cannot open " + path + ": " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return -1;
    throw StoreError("cannot lock " + path + ": " + std::strerror(error));
}

}  // namespace

BorrowedList::BorrowedList(const DataDir& dataDir) {
    const std::string directory = dataDir.path() + "/sync";
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) throw StoreError("cannot make " + directory + ": " + error.message());

    Lending& pool = lending();
    std::unique_lock<std::mutex> lock(pool.mutex);
    for (;;) {
        for (int number = 0; number < kListNumbers; ++number) {
            if (pool.lent[number]) continue;
            lockFd_ = lock_number(directory, number);
            if (lockFd_ < 0) continue;
            pool.lent[number] = true;
            number_ = number;
            return;
        }
        pool.returned.wait_for(lock, kLookAgain);
    }
}

BorrowedList::~BorrowedList() {
    Lending& pool = lending();
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        ::close(lockFd_);  // unlocks it for other processes
        pool.lent[number_] = false;
    }
    pool.returned.notify_one();
}

}  // namespace doorlinkd
