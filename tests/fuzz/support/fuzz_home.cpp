#include "support/fuzz_home.h"

#include <stdlib.h>

#include <cstdlib>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/library_state.h"

namespace doorlink::fuzz {
namespace {

std::string& home_path() {
    static std::string path;
    return path;
}

void remove_home() {
    std::error_code ignored;
    if (!home_path().empty()) std::filesystem::remove_all(home_path(), ignored);
}

}  // namespace

const std::string& home() { return home_path(); }

void clear_home() {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(home_path(), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        std::filesystem::remove_all(it->path(), ignored);
    }
}

bool write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

platform::LocalTime fixed_time() {
    platform::LocalTime t;
    t.year = 2024;
    t.month = 5;
    t.dayOfWeek = 5;
    t.day = 17;
    t.hour = 13;
    t.minute = 45;
    t.second = 30;
    return t;
}

}  // namespace doorlink::fuzz

namespace {

// Where the data directory goes: TMPDIR when set, else memory (/dev/shm)
// where there is such a place, for files written and removed at every input.
std::filesystem::path scratch_root() {
    std::error_code ec;
    if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (scratch_root() / "doorlink-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    doorlink::fuzz::home_path() = pattern;
    ::setenv("DOORLINK_HOME", pattern.c_str(), 1);
    // The state reads its module directory once, now.
    if (doorlink::core::LibraryState::get().module_directory() != pattern) {
        doorlink::fuzz::fail("module directory not taken from DOORLINK_HOME");
    }
    std::atexit(doorlink::fuzz::remove_home);
    return 0;
}
