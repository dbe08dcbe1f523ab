// Files written whole or not at all.
#pragma once

#include <cstddef>
#include <string>

namespace doorlinkd {

// Writes a file whole or not at all: a temporary file beside it, renamed
// over it (the same file system, so the rename cannot fail for that).
// StoreError when it cannot be written.
void write_file_atomically(const std::string& path, const void* data, size_t size);

}  // namespace doorlinkd
