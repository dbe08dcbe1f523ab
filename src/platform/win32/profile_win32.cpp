// Profile files through the platform's own private profile functions.
#include "platform/profile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/win32/win32_api.h"

namespace doorlink::platform {

uint32_t profile_read_string(const char* section, const char* key, const char* defaultValue, char* buffer,
                             uint32_t size, const char* path) {
    if (!buffer || size == 0) return 0;
    // A null section or key would list the names of the file instead of
    // reading one value: the library never asks for that, so such a call
    // reads as a missing key.
    if (!section || !key || !path) {
        const char* value = defaultValue ? defaultValue : "";
        uint32_t n = 0;
        while (value[n] != '\0' && n + 1 < size) {
            buffer[n] = value[n];
            ++n;
        }
        // Trailing blanks of a default are dropped, as the platform does.
        while (n > 0 && (buffer[n - 1] == ' ' || buffer[n - 1] == '\t')) --n;
        buffer[n] = '\0';
        return n;
    }
    return ::GetPrivateProfileStringA(section, key, defaultValue ? defaultValue : "", buffer, size, path);
}

// The platform's profile functions are the reference for the file format,
// and they find a file by rules of their own (a name without a directory is
// looked for in the system's directory, some names are mapped elsewhere): each
// read of a snapshot goes to them, as a plain read does, so that both read the
// same.
struct ProfileSnapshot::Content {
    bool hasPath = false;
    std::string path;
};

ProfileSnapshot::ProfileSnapshot(const char* path)
    : content_(std::make_shared<const Content>(Content{path != nullptr, path ? path : ""})) {}

uint32_t ProfileSnapshot::read_string(const char* section, const char* key, const char* defaultValue,
                                      char* buffer, uint32_t size) const {
    return profile_read_string(section, key, defaultValue, buffer, size,
                               content_->hasPath ? content_->path.c_str() : nullptr);
}

int32_t profile_read_int(const char* section, const char* key, int32_t defaultValue, const char* path) {
    if (!section || !key || !path) return defaultValue;
    return static_cast<int32_t>(::GetPrivateProfileIntA(section, key, static_cast<INT>(defaultValue), path));
}

bool profile_write_string(const char* section, const char* key, const char* value, const char* path) {
    // A null key or value would delete a section or key; writes only write.
    if (!section || !key || !value || !path) return false;
    return ::WritePrivateProfileStringA(section, key, value, path) != 0;
}

namespace {

// Names that the platform matches exactly as an ASCII comparison without
// regard to case would: no blanks at the ends, no '=', no bytes beyond ASCII,
// no comment or section marks in front.
bool plain_name(const char* name) {
    const size_t n = std::strlen(name);
    if (n == 0 || name[0] == ' ' || name[0] == '\t' || name[n - 1] == ' ' || name[n - 1] == '\t' ||
        name[0] == ';' || name[0] == '[') {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= 0x80 || c < 0x20 || c == '=' || c == ']') return false;
    }
    return true;
}

bool same_name(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The writes of one section, each key once with its last value, in the order
// in which the keys first appear.
struct SectionWrites {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
    std::unordered_map<std::string, size_t> keyAt;  // lower-case key -> its place in keys
    std::vector<size_t> indexes;                    // the writes of the batch that went into it
};

std::string lower_case(const char* name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// A list of names, each ended by a zero, as fill(buffer, size) writes it; a
// list cut to the buffer comes back as its size - 2, and is read again into
// a larger one. Names are trimmed of blanks.
template <typename Fill>
std::vector<std::string> zero_separated_names(Fill fill) {
    std::vector<char> buffer(4096);
    for (;;) {
        const DWORD n = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n + 2 < buffer.size() || buffer.size() >= (1u << 24)) {
            std::vector<std::string> names;
            for (size_t at = 0; at < n && buffer[at] != '\0';) {
                std::string name(buffer.data() + at);
                at += name.size() + 1;
                const size_t first = name.find_first_not_of(" \t");
                const size_t last = name.find_last_not_of(" \t");
                names.push_back(first == std::string::npos ? std::string()
                                                           : name.substr(first, last - first + 1));
            }
            return names;
        }
        buffer.resize(buffer.size() * 4);
    }
}

// The names of the sections the file holds (none for a missing file).
std::vector<std::string> section_names(const char* path) {
    return zero_separated_names(
        [&](char* buffer, DWORD size) { return ::GetPrivateProfileSectionNamesA(buffer, size, path); });
}

}  // namespace

std::vector<std::string> profile_read_key_names(const char* section, const char* path) {
    if (!section || !path) return {};
    // A read without a key name lists the key names of the section.
    return zero_separated_names([&](char* buffer, DWORD size) {
        return ::GetPrivateProfileStringA(section, nullptr, "", buffer, size, path);
    });
}

// Every write of a profile function rewrites the whole file, which would make
// a batch of thousands of keys take minutes. A section that the file does not
// hold yet is therefore written whole, by one section write; keys of a
// section the file holds already (even an empty one, which may keep comment
// lines that a section write would drop) are written one by one, as are
// names that the platform might match otherwise than this grouping does. A
// batch with a null name or value writes nothing.
bool profile_write_strings(const ProfileWrite* writes, size_t count, const char* path) {
    if (!path || (count > 0 && !writes)) return false;
    for (size_t i = 0; i < count; ++i) {
        if (!writes[i].section || !writes[i].key || !writes[i].value) return false;
    }
    std::vector<SectionWrites> sections;
    bool grouped = true;
    for (size_t i = 0; i < count; ++i) {
        const ProfileWrite& w = writes[i];
        if (!plain_name(w.section) || !plain_name(w.key)) {
            grouped = false;
            break;
        }
        auto section = std::find_if(sections.begin(), sections.end(),
                                    [&](const SectionWrites& s) { return same_name(s.name, w.section); });
        if (section == sections.end()) {
            sections.push_back({w.section, {}, {}, {}});
            section = sections.end() - 1;
        }
        section->indexes.push_back(i);
        auto placed = section->keyAt.emplace(lower_case(w.key), section->keys.size());
        if (placed.second) section->keys.emplace_back(w.key, w.value);
        else section->keys[placed.first->second].second = w.value;
    }

    bool written = true;
    auto write_one_by_one = [&](const std::vector<size_t>& indexes) {
        for (size_t i : indexes) {
            if (!::WritePrivateProfileStringA(writes[i].section, writes[i].key, writes[i].value, path))
                written = false;
        }
    };
    if (!grouped) {
        std::vector<size_t> all(count);
        for (size_t i = 0; i < count; ++i) all[i] = i;
        write_one_by_one(all);
        return written;
    }
    const std::vector<std::string> existing = section_names(path);
    for (const SectionWrites& section : sections) {
        const bool exists = std::any_of(existing.begin(), existing.end(), [&](const std::string& name) {
            return same_name(name, section.name.c_str());
        });
        if (exists) {
            write_one_by_one(section.indexes);
            continue;
        }
        // "key=value" lines, each ended by a zero, and one more zero.
        std::string lines;
        for (const auto& key : section.keys) {
            lines += key.first;
            lines += '=';
            lines += key.second;
            lines += '\0';
        }
        lines += '\0';
        if (!::WritePrivateProfileSectionA(section.name.c_str(), lines.c_str(), path)) written = false;
    }
    return written;
}

}  // namespace doorlink::platform
