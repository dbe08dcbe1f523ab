#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/atomic_file.h"
#include "model/errors.h"

namespace doorlinkd {

void write_file_atomically(const std::string& path, const void* data, size_t size) {
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw StoreError("cannot write " + path + ": " + errno_text(errno));
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    bool ok = true;
    while (ok && done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    const int error = errno;
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = errno_text(ok ? errno : error);
        ::unlink(temporary.c_str());
        throw StoreError("cannot write " + path + ": " + reason);
    }
}

}  // namespace doorlinkd
