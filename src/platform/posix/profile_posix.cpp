// Profile files on POSIX: an INI document per path, cached while the file on
// disk is unchanged, and rewritten through a temporary file and a rename so
// that a reader never sees half a file.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ini/ini_document.h"

namespace doorlink::platform {
namespace {

// What identifies one version of a file on disk. A rewrite by this library
// always makes a new inode; an edit in place changes the time or size.
struct FileSignature {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileSignature& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

FileSignature signature_of(const char* path) {
    FileSignature sig;
    struct stat st {};
    if (::stat(path, &st) != 0) return sig;
    sig.exists = true;
    sig.device = st.st_dev;
    sig.inode = st.st_ino;
    sig.size = st.st_size;
    sig.modified = st.st_mtim;
    sig.changed = st.st_ctim;
    return sig;
}

bool read_whole_file(const char* path, std::string& out, FileSignature& sig) {
    // Non-blocking: a path naming a pipe must not wait for a writer.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        out.clear();
        sig = FileSignature{};
        return errno == ENOENT || errno == ENOTDIR;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        sig.exists = true;
        sig.device = st.st_dev;
        sig.inode = st.st_ino;
        sig.size = st.st_size;
        sig.modified = st.st_mtim;
        sig.changed = st.st_ctim;
    }
    out.clear();
    char chunk[8192];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;  // half a file is no file
        if (n <= 0) break;
        out.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

// The file a write replaces: the target of a symbolic link, so that the
// rename replaces what the link points to and the link stays.
std::string write_target(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return path;
    std::string target = resolved;
    std::free(resolved);
    return target;
}

bool write_whole_file(const std::string& linkOrFile, const std::string& text, mode_t mode) {
    static std::atomic<unsigned> counter{0};
    const std::string path = write_target(linkOrFile);
    std::string temp = path + ".tmp" + std::to_string(::getpid()) + "." +
                       std::to_string(counter.fetch_add(1));
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    const char* p = text.data();
    size_t left = text.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

struct CachedFile {
    std::mutex writeLock;  // one writer of this path at a time
    std::mutex stateLock;  // guards the two fields below
    FileSignature signature;
    std::shared_ptr<const ini::Document> document;
};

class ProfileCache {
public:
    CachedFile& entry(const std::string& path) {
        std::lock_guard<std::mutex> guard(lock_);
        auto& slot = files_[path];
        if (!slot) slot = std::make_unique<CachedFile>();
        return *slot;
    }

    // The current document of the file, parsed again only when it changed;
    // null when the file is there but cannot be read.
    std::shared_ptr<const ini::Document> current(CachedFile& file, const char* path) {
        FileSignature now = signature_of(path);
        {
            std::lock_guard<std::mutex> guard(file.stateLock);
            if (file.document && file.signature == now) return file.document;
        }
        std::string text;
        FileSignature read;
        if (!read_whole_file(path, text, read)) return nullptr;
        auto doc = std::make_shared<const ini::Document>(ini::Document::parse(text));
        std::lock_guard<std::mutex> guard(file.stateLock);
        file.signature = read;
        file.document = doc;
        return doc;
    }

    void store(CachedFile& file, const char* path, std::shared_ptr<const ini::Document> doc) {
        FileSignature now = signature_of(path);
        std::lock_guard<std::mutex> guard(file.stateLock);
        file.signature = now;
        file.document = std::move(doc);
    }

private:
    std::mutex lock_;
    std::map<std::string, std::unique_ptr<CachedFile>> files_;
};

ProfileCache& cache() {
    static ProfileCache instance;
    return instance;
}

std::string_view trimmed_default(const char* value) {
    std::string_view v = value ? value : "";
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    return v;
}

}  // namespace

uint32_t profile_read_string(const char* section, const char* key, const char* defaultValue,
                             char* buffer, uint32_t size, const char* path) {
    if (!buffer || size == 0) return 0;
    std::string_view value = trimmed_default(defaultValue);
    std::shared_ptr<const ini::Document> doc;
    if (section && key && path) {
        CachedFile& file = cache().entry(path);
        doc = cache().current(file, path);
        if (!doc) doc = std::make_shared<const ini::Document>();  // unreadable: nothing found
        if (auto found = doc->find(section, key)) value = ini::strip_quotes(*found);
    }
    size_t n = std::min<size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

int32_t profile_read_int(const char* section, const char* key, int32_t defaultValue,
                         const char* path) {
    if (!section || !key || !path) return defaultValue;
    CachedFile& file = cache().entry(path);
    auto doc = cache().current(file, path);
    if (!doc) return defaultValue;
    auto found = doc->find(section, key);
    if (!found) return defaultValue;
    std::string_view value = ini::strip_quotes(*found);
    if (value.empty()) return defaultValue;
    return ini::parse_leading_int(value);
}

std::vector<std::string> profile_read_key_names(const char* section, const char* path) {
    if (!section || !path) return {};
    CachedFile& file = cache().entry(path);
    auto doc = cache().current(file, path);
    if (!doc) return {};
    return doc->key_names(section);
}

bool profile_write_string(const char* section, const char* key, const char* value,
                          const char* path) {
    if (!section || !key || !value || !path) return false;
    CachedFile& file = cache().entry(path);
    std::lock_guard<std::mutex> writer(file.writeLock);
    // A file that is there but cannot be read is not replaced by one that
    // holds only this write.
    auto before = cache().current(file, path);
    if (!before) return false;
    auto doc = std::make_shared<ini::Document>(*before);
    doc->set(section, key, value);
    struct stat st {};
    mode_t mode = ::stat(path, &st) == 0 ? (st.st_mode & 07777) : 0644;
    if (!write_whole_file(path, doc->serialize(), mode)) return false;
    cache().store(file, path, std::move(doc));
    return true;
}

bool profile_write_strings(const ProfileWrite* writes, size_t count, const char* path) {
    if (!path || (count > 0 && !writes)) return false;
    std::vector<ini::Setting> settings;
    settings.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const ProfileWrite& w = writes[i];
        if (!w.section || !w.key || !w.value) return false;
        settings.push_back({w.section, w.key, w.value});
    }
    CachedFile& file = cache().entry(path);
    std::lock_guard<std::mutex> writer(file.writeLock);
    // A file that is there but cannot be read is not replaced by one that
    // holds only this write.
    auto before = cache().current(file, path);
    if (!before) return false;
    auto doc = std::make_shared<ini::Document>(*before);
    doc->set_all(settings);
    struct stat st {};
    mode_t mode = ::stat(path, &st) == 0 ? (st.st_mode & 07777) : 0644;
    if (!write_whole_file(path, doc->serialize(), mode)) return false;
    cache().store(file, path, std::move(doc));
    return true;
}

}  // namespace doorlink::platform
