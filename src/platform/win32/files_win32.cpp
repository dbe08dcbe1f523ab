#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "platform/win32/win32_api.h"

namespace doorlink::platform {

const char kPathSeparator = '\\';

bool make_directory(const std::string& path) {
    if (::CreateDirectoryA(path.c_str(), nullptr)) return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// MoveFileA fails when the target exists, which is the rule wanted.
bool move_file(const std::string& from, const std::string& to) {
    return ::MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool delete_file(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

std::FILE* create_new_text_file(const std::string& path, bool& exists) {
    exists = false;
    int fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "w");
    if (!file) ::_close(fd);
    return file;
}

bool resize_file(const std::string& path, long size) {
    if (size < 0) return false;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = size;
    const bool ok = ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
    ::CloseHandle(file);
    return ok;
}

std::string executable_path() {
    // The module directory keeps 500 characters; a longer path is read whole
    // and cut by the caller.
    std::vector<char> buffer(512);
    for (;;) {
        DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::string(buffer.data(), n);
        if (buffer.size() >= 32768) return std::string(buffer.data(), buffer.size());
        buffer.resize(buffer.size() * 2);
    }
}

// The module directory is the host executable's, as the platform has no
// other setting for it.
std::optional<std::string> module_directory_override() { return std::nullopt; }

}  // namespace doorlink::platform
