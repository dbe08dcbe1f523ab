// A file written beside the one it will replace and renamed over it once
// complete, so that a reader never sees half a file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace doorlink::platform {

// Creates a new file beside path (path and a suffix no other call of this
// process or another one uses), open for writing, with mode before the umask;
// its descriptor, or -1 with errno set. temp gets its name.
int create_file_beside(const std::string& path, mode_t mode, std::string& temp);

// Writes every byte, again after an interruption; false when one fails.
bool write_all(int fd, const char* data, size_t size);

}  // namespace doorlink::platform
