// Reading a value from an INI file as a host would, to follow the progress
// keys of a transfer and to compare card files (section and key names
// without regard to case, the first of each).
#pragma once

#include <map>
#include <string>

namespace doorctl {

// Every value of the file, by lower-case "section/key"; empty when the file
// is missing.
using IniValues = std::map<std::string, std::string>;
IniValues read_ini(const std::string& path);

// One value of the values read, or "" when absent.
std::string value_of(const IniValues& values, const std::string& section, const std::string& key);
// One value of the file, or "" when absent.
std::string ini_value(const std::string& path, const std::string& section, const std::string& key);

// The library's data directory: $DOORLINK_HOME, or the directory of doorctl.
std::string module_directory();

// The data directory, made when missing: the library makes the directories
// below it, but not the directory itself.
std::string prepared_module_directory();

}  // namespace doorctl
