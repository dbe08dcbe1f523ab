#include "platform/posix/file_beside.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace doorlink::platform {

int create_file_beside(const std::string& path, mode_t mode, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    temp = path + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace doorlink::platform
