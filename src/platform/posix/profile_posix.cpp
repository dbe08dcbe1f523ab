// Profile files on POSIX: an INI document per path, cached while the file on
// disk is unchanged (for the most recently used files only), and rewritten
// through a temporary file and a rename so that a reader never sees half a
// file. The new file keeps the owner, group and mode of the old one; where
// that cannot be had, or the directory may not be written, the file is
// rewritten in place under an exclusive lock that readers wait for.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ini/ini_document.h"
#include "platform/posix/file_beside.h"

namespace doorlink::platform {
namespace {

// What identifies one version of a file on disk. A rewrite through a rename
// makes a new inode; an edit in place changes the time or size.
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

FileSignature signature_of(const struct stat& st) {
    FileSignature sig;
    sig.exists = true;
    sig.device = st.st_dev;
    sig.inode = st.st_ino;
    sig.size = st.st_size;
    sig.modified = st.st_mtim;
    sig.changed = st.st_ctim;
    return sig;
}

FileSignature signature_of(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 ? signature_of(st) : FileSignature{};
}

// The signature of the file an open descriptor refers to.
FileSignature signature_of(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? signature_of(st) : FileSignature{};
}

// flock, retried when a signal interrupts the wait.
bool lock_file(int fd, int operation) {
    int r;
    do {
        r = ::flock(fd, operation);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool read_whole_file(const char* path, std::string& out, FileSignature& sig) {
    // Non-blocking: a path naming a pipe must not wait for a writer.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        out.clear();
        sig = FileSignature{};
        return errno == ENOENT || errno == ENOTDIR;
    }
    // A file rewritten in place is read only while its writer is not at it.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) lock_file(fd, LOCK_SH);
    sig = signature_of(fd);
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

enum class Replace { Done, Failed, NotPossible };

// Writes text into a new file beside path, gives it the owner, group and
// mode of the old file (st; null when there is none) and renames it over
// path. NotPossible, with nothing left behind, when the directory may not be
// written or the old owner cannot be kept.
Replace replace_through_rename(const std::string& path, const std::string& text, const struct stat* st,
                               FileSignature& written) {
    std::string temp;
    int fd = create_file_beside(path, st ? 0600 : 0644, temp);
    if (fd < 0) return errno == EACCES || errno == EPERM ? Replace::NotPossible : Replace::Failed;
    Replace result = Replace::Done;
    if (st) {
        struct stat now {};
        const bool owned = ::fstat(fd, &now) == 0 && now.st_uid == st->st_uid && now.st_gid == st->st_gid;
        // fchown drops set-id bits, so the mode comes after it.
        if (!owned && ::fchown(fd, st->st_uid, st->st_gid) != 0) result = Replace::NotPossible;
        else if (::fchmod(fd, st->st_mode & 07777) != 0) result = Replace::Failed;
    }
    if (result == Replace::Done && !write_all(fd, text.data(), text.size())) result = Replace::Failed;
    if (result == Replace::Done && ::rename(temp.c_str(), path.c_str()) != 0) result = Replace::Failed;
    if (result == Replace::Done) {
        // The identity of what was written, from the file itself: another
        // writer may already have put a newer file at the path.
        written = signature_of(fd);
        if (::close(fd) != 0) result = Replace::Failed;
        return result;
    }
    ::close(fd);
    ::unlink(temp.c_str());
    return result;
}

// Rewrites the file itself, under an exclusive lock that readers of this
// library wait for. Room for the text is taken first, so that a full disk
// fails the write before any byte changes.
bool rewrite_in_place(const std::string& path, const std::string& text, FileSignature& written) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const off_t size = static_cast<off_t>(text.size());
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && lock_file(fd, LOCK_EX) &&
              (size == 0 || ::posix_fallocate(fd, 0, size) == 0) && write_all(fd, text.data(), text.size()) &&
              ::ftruncate(fd, size) == 0;
    if (ok) written = signature_of(fd);
    if (::close(fd) != 0) ok = false;
    return ok;
}

bool write_whole_file(const std::string& linkOrFile, const std::string& text, FileSignature& written) {
    const std::string path = write_target(linkOrFile);
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    switch (replace_through_rename(path, text, exists ? &st : nullptr, written)) {
        case Replace::Done: return true;
        case Replace::Failed: return false;
        case Replace::NotPossible: break;
    }
    return exists && S_ISREG(st.st_mode) && rewrite_in_place(path, text, written);
}

struct CachedFile {
    std::mutex writeLock;  // one writer of this path at a time
    std::mutex stateLock;  // guards the two fields below
    FileSignature signature;
    std::shared_ptr<const ini::Document> document;
};

class ProfileCache {
public:
    // Files kept, the most recently used; one in use is never dropped.
    static constexpr size_t kMaxFiles = 16;

    std::shared_ptr<CachedFile> entry(const std::string& path) {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = files_.find(path);
        if (found != files_.end()) {
            recent_.splice(recent_.begin(), recent_, found->second.place);
            return found->second.file;
        }
        recent_.push_front(path);
        Slot& slot = files_[path];
        slot.file = std::make_shared<CachedFile>();
        slot.place = recent_.begin();
        std::shared_ptr<CachedFile> file = slot.file;
        drop_least_recent();
        return file;
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

    // The document this library wrote, with the identity of the file it
    // wrote it into.
    void store(CachedFile& file, const FileSignature& written, std::shared_ptr<const ini::Document> doc) {
        std::lock_guard<std::mutex> guard(file.stateLock);
        file.signature = written;
        file.document = std::move(doc);
    }

private:
    struct Slot {
        std::shared_ptr<CachedFile> file;
        std::list<std::string>::iterator place;
    };

    // Called with lock_ held. A file is in use while anyone but the cache
    // holds it, and only entry() hands out holds, under lock_.
    void drop_least_recent() {
        auto it = recent_.end();
        while (files_.size() > kMaxFiles && it != recent_.begin()) {
            --it;
            auto found = files_.find(*it);
            if (found->second.file.use_count() > 1) continue;
            files_.erase(found);
            it = recent_.erase(it);
        }
    }

    std::mutex lock_;
    std::list<std::string> recent_;  // most recently used first
    std::unordered_map<std::string, Slot> files_;
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

// The current document of the file; null when the file is there but cannot
// be read.
std::shared_ptr<const ini::Document> current_document(const char* path) {
    auto file = cache().entry(path);
    return cache().current(*file, path);
}

// The same, but an empty document for a file that cannot be read (nothing is
// found in it).
std::shared_ptr<const ini::Document> readable_document(const char* path) {
    auto doc = current_document(path);
    return doc ? doc : std::make_shared<const ini::Document>();
}

// What a read of section/key gives from doc (null: only the default), cut to
// size - 1 characters and terminated; size is at least 1.
uint32_t copy_value(const ini::Document* doc, const char* section, const char* key, const char* defaultValue,
                    char* buffer, uint32_t size) {
    std::string_view value = trimmed_default(defaultValue);
    if (doc && section && key) {
        if (auto found = doc->find(section, key)) value = ini::strip_quotes(*found);
    }
    size_t n = std::min<size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

// Applies change to the file's current document and writes the file, one
// writer of a path at a time; false when the file could not be read or
// written. A file that is there but cannot be read is not replaced by one
// that holds only this change.
template <typename Change>
bool update_file(const char* path, Change&& change) {
    auto file = cache().entry(path);
    std::lock_guard<std::mutex> writer(file->writeLock);
    auto before = cache().current(*file, path);
    if (!before) return false;
    auto doc = std::make_shared<ini::Document>(*before);
    change(*doc);
    FileSignature written;
    if (!write_whole_file(path, doc->serialize(), written)) return false;
    cache().store(*file, written, std::move(doc));
    return true;
}

}  // namespace

uint32_t profile_read_string(const char* section, const char* key, const char* defaultValue, char* buffer,
                             uint32_t size, const char* path) {
    if (!buffer || size == 0) return 0;
    std::shared_ptr<const ini::Document> doc;
    if (section && key && path) doc = readable_document(path);
    return copy_value(doc.get(), section, key, defaultValue, buffer, size);
}

struct ProfileSnapshot::Content {
    std::shared_ptr<const ini::Document> document;  // null: no path
};

ProfileSnapshot::ProfileSnapshot(const char* path)
    : content_(std::make_shared<const Content>(Content{path ? readable_document(path) : nullptr})) {}

uint32_t ProfileSnapshot::read_string(const char* section, const char* key, const char* defaultValue,
                                      char* buffer, uint32_t size) const {
    if (!buffer || size == 0) return 0;
    return copy_value(content_->document.get(), section, key, defaultValue, buffer, size);
}

int32_t profile_read_int(const char* section, const char* key, int32_t defaultValue, const char* path) {
    if (!section || !key || !path) return defaultValue;
    auto doc = current_document(path);
    if (!doc) return defaultValue;
    auto found = doc->find(section, key);
    if (!found) return defaultValue;
    std::string_view value = ini::strip_quotes(*found);
    if (value.empty()) return defaultValue;
    return ini::parse_leading_int(value);
}

std::vector<std::string> profile_read_key_names(const char* section, const char* path) {
    if (!section || !path) return {};
    auto doc = current_document(path);
    if (!doc) return {};
    return doc->key_names(section);
}

bool profile_write_string(const char* section, const char* key, const char* value, const char* path) {
    if (!section || !key || !value || !path) return false;
    return update_file(path, [&](ini::Document& doc) { doc.set(section, key, value); });
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
    return update_file(path, [&](ini::Document& doc) { doc.set_all(settings); });
}

}  // namespace doorlink::platform
