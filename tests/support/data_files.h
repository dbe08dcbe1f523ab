// Reading what the library wrote under the test's data directory.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/library_state.h"
#include "core/paths.h"
#include "platform/profile.h"

namespace doorlink::testing {

inline std::string data_path(std::initializer_list<std::string_view> parts) {
    return core::module_path(parts);
}

inline std::vector<uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string read_text(const std::string& path) {
    auto bytes = read_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

inline std::vector<std::string> read_lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A key of the device registry file, or "" when absent.
inline std::string registry_value(const std::string& section, const std::string& key) {
    char value[64] = {};
    platform::profile_read_string(section.c_str(), key.c_str(), "", value, sizeof value,
                                  core::registry_path().c_str());
    return value;
}

// The files directly in a directory, by name.
inline std::vector<std::string> files_in(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& entry : std::filesystem::directory_iterator(directory, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace doorlink::testing
