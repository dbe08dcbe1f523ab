#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "model/errors.h"

namespace doorlinkd {

void write_file_atomically(const std::string& path, const void* data, size_t size, mode_t mode) {
    // mkostemp makes the file with O_EXCL under a name nobody can guess: a
    // link or file that is there already is never opened.
    std::string temporary = path + ".tmpXXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw StoreError("cannot write " + path + ": " + errno_text(errno));
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    int error = ::fchmod(fd, mode) == 0 ? 0 : errno;  // mkostemp makes it 0600
    while (error == 0 && done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) error = n < 0 ? errno : EIO;
        if (n > 0) done += static_cast<size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        throw StoreError("cannot write " + path + ": " + errno_text(error));
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw StoreError("cannot read " + path);
    // The file in one buffer of its size when it has one (a pipe has no
    // size): a string stream and its copy would hold it two or three times.
    std::string text;
    if (in.seekg(0, std::ios::end)) {
        const std::streamoff size = in.tellg();
        if (size > 0) text.reserve(static_cast<std::size_t>(size));
        in.seekg(0);
    }
    in.clear();
    std::array<char, 65536> chunk;
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) throw StoreError("cannot read " + path);
    return text;
}

}  // namespace doorlinkd
