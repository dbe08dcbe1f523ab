#include "archive/photo_hash.h"

#include <fstream>
#include <iterator>

#include "model/errors.h"

namespace doorlinkd {

Photo photo_of(std::vector<uint8_t> bytes) {
    Photo photo;
    photo.sha256 = sha256_hex(bytes);
    const size_t n = bytes.size();
    photo.whole =
        n >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[n - 2] == 0xFF && bytes[n - 1] == 0xD9;
    photo.bytes = std::move(bytes);
    return photo;
}

std::optional<std::vector<uint8_t>> read_photo_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace doorlinkd
