// The fleet service's fuzz targets link doorlinkd_core (which links the
// shared library) and none of the library's fuzz support. Their
// LLVMFuzzerInitialize makes a scratch directory for the process, for the
// targets that read files, and removes it at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/controller.h"

#include "support/fuzz_check.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace doorlink::fuzz {

// The scratch directory (set up by LLVMFuzzerInitialize).
const std::string& scratch();

// Removes everything in the scratch directory.
void clear_scratch();

// Writes bytes into a file, making its directory; false when it cannot.
bool write_scratch_file(const std::string& path, const std::string& bytes);

// The fleet the card targets check cards against: door1, hall (long
// records) and gate.2 (no photos), as their seed corpus names them.
const std::vector<doorlinkd::Controller>& card_fleet();

}  // namespace doorlink::fuzz
