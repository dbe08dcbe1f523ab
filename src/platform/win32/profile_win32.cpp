// Profile files through the platform's own private profile functions.
#include "platform/profile.h"

#include "platform/win32/win32_api.h"

namespace doorlink::platform {

uint32_t profile_read_string(const char* section, const char* key, const char* defaultValue,
                             char* buffer, uint32_t size, const char* path) {
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
    return ::GetPrivateProfileStringA(section, key, defaultValue ? defaultValue : "", buffer,
                                      size, path);
}

int32_t profile_read_int(const char* section, const char* key, int32_t defaultValue,
                         const char* path) {
    if (!section || !key || !path) return defaultValue;
    return static_cast<int32_t>(
        ::GetPrivateProfileIntA(section, key, static_cast<INT>(defaultValue), path));
}

bool profile_write_string(const char* section, const char* key, const char* value,
                          const char* path) {
    // A null key or value would delete a section or key; writes only write.
    if (!section || !key || !value || !path) return false;
    return ::WritePrivateProfileStringA(section, key, value, path) != 0;
}

// One profile write after another: the platform has no batch write that
// keeps the other keys of a section, and it caches the file between calls.
// A batch with a null name or value writes nothing.
bool profile_write_strings(const ProfileWrite* writes, size_t count, const char* path) {
    if (!path || (count > 0 && !writes)) return false;
    for (size_t i = 0; i < count; ++i) {
        if (!writes[i].section || !writes[i].key || !writes[i].value) return false;
    }
    bool written = true;
    for (size_t i = 0; i < count; ++i) {
        if (!::WritePrivateProfileStringA(writes[i].section, writes[i].key, writes[i].value, path)) {
            written = false;
        }
    }
    return written;
}

}  // namespace doorlink::platform
