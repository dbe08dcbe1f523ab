// Files and directories, and where the host executable lives.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace doorlink::platform {

// The directory separator of data file paths.
extern const char kPathSeparator;

// Creates a directory; true when it exists afterwards (an existing one is no
// error).
bool make_directory(const std::string& path);

// Moves a file; fails, leaving both in place, when the target exists.
bool move_file(const std::string& from, const std::string& to);

bool delete_file(const std::string& path);

// Creates a new text file and opens it for writing, as fopen's "w" would,
// but never opens a file that is already there: null then, with exists set.
std::FILE* create_new_text_file(const std::string& path, bool& exists);

// Cuts or extends the file to size bytes.
bool resize_file(const std::string& path, long size);

// The full path of the host process's executable; empty when unknown.
std::string executable_path();

// A directory that replaces the executable's directory as the module
// directory, where the platform has such a setting.
std::optional<std::string> module_directory_override();

}  // namespace doorlink::platform
