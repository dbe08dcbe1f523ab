// The data directory of a fuzz target: a fresh directory that becomes the
// module directory before the library's state is built, emptied before each
// input so that no input sees the files of another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "support/fuzz_check.h"

// libFuzzer's entry points; the replay main calls them the same way.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace doorlink::fuzz {

// The module directory (set up by LLVMFuzzerInitialize).
const std::string& home();

// Removes everything in the module directory.
void clear_home();

// Writes bytes into a file; false when it cannot be written.
bool write_file(const std::string& path, const std::string& bytes);

// A fixed local time (2024-05-17 13:45:30, a Friday) for calls that name
// files after the time, so that a run replays exactly.
platform::LocalTime fixed_time();

}  // namespace doorlink::fuzz
