#include "cardlists/progress.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "core/library_state.h"
#include "core/paths.h"
#include "platform/profile.h"

namespace doorlink::cardlists {

void WriteProgress(const char* name, int listNumber, long value) {
    char key[64];
    char text[24];
    std::snprintf(key, sizeof key, "%s%d", name, listNumber);
    std::snprintf(text, sizeof text, "%ld", value);
    const std::string path = core::registry_path();
    std::lock_guard<platform::Mutex> guard(core::LibraryState::get().lock());
    platform::profile_write_string(name, key, text, path.c_str());
}

}  // namespace doorlink::cardlists
