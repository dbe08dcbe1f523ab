// SHA-256 as the service writes it: of photos, and of tokens (which are kept
// only as their hash).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace doorlinkd {

// 64 lower-case hexadecimal digits; StoreError when OpenSSL cannot hash.
std::string sha256_hex(const std::vector<uint8_t>& bytes);

}  // namespace doorlinkd
