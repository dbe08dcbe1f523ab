// A photo as the archive keeps it: its bytes, their SHA-256, and whether the
// controller delivered it whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/sha256.h"
#include "model/record.h"

namespace doorlinkd {

// Whole: starts with the JPEG start of image (FF D8) and ends with its end
// of image (FF D9).
Photo photo_of(std::vector<uint8_t> bytes);

// The bytes of a photo file; none when it cannot be read.
std::optional<std::vector<uint8_t>> read_photo_file(const std::string& path);

}  // namespace doorlinkd
