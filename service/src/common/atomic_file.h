// Files written whole or not at all, and read whole.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace doorlinkd {

// Writes a file whole or not at all, with the given mode (the umask aside):
// a temporary file of a random name, made anew beside it (so a link planted
// there is never followed), synced, then renamed over it (the same file
// system, so the rename cannot fail for that). StoreError when it cannot be
// written.
void write_file_atomically(const std::string& path, const void* data, size_t size, mode_t mode);

// The whole file; StoreError when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace doorlinkd
