// INI profile files with the semantics of the platform's private profile
// functions: case-insensitive section and key names, values trimmed, a
// missing file, section or key reading as absent, writes that create the file
// and section as needed and replace values in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace doorlink::platform {

// Copies the value (or defaultValue, or "" for a null default) into buffer,
// cut to size - 1 characters and terminated; returns the characters copied.
uint32_t profile_read_string(const char* section, const char* key, const char* defaultValue, char* buffer,
                             uint32_t size, const char* path);

// A profile file taken for many reads: read_string gives what
// profile_read_string gives for the same file. Where the backend reads files
// itself, the file is read once, when the snapshot is taken, and later changes
// are not seen; where the platform's own profile functions are the reference,
// each read still goes to them. Copies share one content; any number of
// threads may read at once.
class ProfileSnapshot {
public:
    explicit ProfileSnapshot(const char* path);

    uint32_t read_string(const char* section, const char* key, const char* defaultValue, char* buffer,
                         uint32_t size) const;

private:
    struct Content;  // the backend's own
    std::shared_ptr<const Content> content_;
};

// The value's leading decimal number; defaultValue when the key is absent or
// its value empty.
int32_t profile_read_int(const char* section, const char* key, int32_t defaultValue, const char* path);

// The names of the keys in section, each once, in the order of the file;
// none for a missing file or section. Every name read back gives its value.
std::vector<std::string> profile_read_key_names(const char* section, const char* path);

// Writes section/key = value; false when the file could not be written.
bool profile_write_string(const char* section, const char* key, const char* value, const char* path);

// One write of a batch.
struct ProfileWrite {
    const char* section;
    const char* key;
    const char* value;
};

// The same as profile_write_string for each write in turn, made as one update
// of the file where the platform allows (a file of thousands of keys is then
// written once, not once per key); false when the file could not be written.
bool profile_write_strings(const ProfileWrite* writes, size_t count, const char* path);

// A new profile file, written one section after another: the file that
// profile_write_strings makes of the same writes where there is no file, but
// without all of it in memory. Each section is given once, each of its keys
// once, and no name has blanks at its ends; a section without keys is left
// out. Delete any file at the path first: a backend that writes files itself
// replaces it, one that leaves this to the platform's profile functions
// writes into it. The first holds a piece of the file at a time, and the file
// appears at the path whole, when it is finished; the second holds a section
// at a time, and writes each when the next one starts.
class ProfileFileWriter {
public:
    explicit ProfileFileWriter(const char* path);
    ~ProfileFileWriter();
    ProfileFileWriter(const ProfileFileWriter&) = delete;
    ProfileFileWriter& operator=(const ProfileFileWriter&) = delete;

    // Starts the next section; the keys that follow belong to it.
    void section(std::string_view name);
    void key(std::string_view name, std::string_view value);
    // Once, at the end: true when every section and key was written. Without
    // it nothing is at the path, or the sections written already.
    bool finish();

private:
    struct State;  // the backend's own
    std::unique_ptr<State> state_;
};

}  // namespace doorlink::platform
