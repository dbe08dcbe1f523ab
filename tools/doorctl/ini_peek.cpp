#include "ini_peek.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace doorctl {
namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

IniValues read_ini(const std::string& path) {
    IniValues values;
    std::ifstream in(path);
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == ';') continue;
        if (t[0] == '[') {
            size_t close = t.find(']');
            if (close != std::string::npos) section = lower(trim(t.substr(1, close - 1)));
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        values.emplace(section + "/" + lower(trim(t.substr(0, eq))), trim(t.substr(eq + 1)));
    }
    return values;
}

std::string value_of(const IniValues& values, const std::string& section, const std::string& key) {
    auto it = values.find(lower(section) + "/" + lower(key));
    return it == values.end() ? std::string() : it->second;
}

std::string ini_value(const std::string& path, const std::string& section, const std::string& key) {
    return value_of(read_ini(path), section, key);
}

std::string module_directory() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): doorctl never sets the environment
    if (const char* home = std::getenv("DOORLINK_HOME"); home && *home) {
        std::string dir = home;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        return dir;
    }
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string exe(buffer, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

std::string prepared_module_directory() {
    std::string dir = module_directory();
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return dir;
}

}  // namespace doorctl
