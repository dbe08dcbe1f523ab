// A C stream that closes itself: whatever ends a call early, an exception
// included, the stream is flushed and closed before anything it writes from
// (a buffer given with setvbuf) goes away.
#pragma once

#include <cstdio>
#include <memory>

namespace doorlink::core {

struct CloseFile {
    void operator()(std::FILE* file) const noexcept { (void)std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, CloseFile>;

// Closes the stream now; false when its buffered bytes could not be written.
inline bool CloseNow(OwnedFile& file) {
    std::FILE* stream = file.release();
    return stream == nullptr || std::fclose(stream) == 0;
}

}  // namespace doorlink::core
