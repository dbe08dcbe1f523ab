#include "support/service_scratch.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace doorlink::fuzz {
namespace {

std::string& scratch_path() {
    static std::string path;
    return path;
}

void remove_scratch() {
    std::error_code ignored;
    if (!scratch_path().empty()) std::filesystem::remove_all(scratch_path(), ignored);
}

// TMPDIR when set, else memory (/dev/shm) where there is such a place: files
// are written and removed at every input.
std::filesystem::path scratch_root() {
    std::error_code ec;
    if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

}  // namespace

const std::string& scratch() { return scratch_path(); }

void clear_scratch() {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(scratch_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code ignored;
        std::filesystem::remove_all(it->path(), ignored);
    }
}

bool write_scratch_file(const std::string& path, const std::string& bytes) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

const std::vector<doorlinkd::Controller>& card_fleet() {
    static const std::vector<doorlinkd::Controller> controllers = {
        {"door1", "127.0.0.1", "0011aabbccdd", 1, false, true},
        {"hall", "127.0.0.2", "0011aabbccde", 2, true, true},
        {"gate.2", "127.0.0.3", "0011aabbccdf", 3, false, false},
    };
    return controllers;
}

}  // namespace doorlink::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (doorlink::fuzz::scratch_root() / "doorlinkd-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    doorlink::fuzz::scratch_path() = pattern;
    std::atexit(doorlink::fuzz::remove_scratch);
    return 0;
}
