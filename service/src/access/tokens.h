// API tokens: random texts handed out once, stored only as their SHA-256.
#pragma once

#include <string>

namespace doorlinkd {

// "dl_" and 43 base64url characters of 256 random bits (OpenSSL's RAND_bytes).
// Throws StoreError when the random source fails.
std::string new_token();

// The SHA-256 of a token's text, 64 lower-case hexadecimal digits: what the
// store keeps and looks tokens up by.
std::string token_hash(const std::string& token);

// 1 to 64 letters, digits, '-', '_', '.', '@'.
bool is_token_name(const std::string& name);

}  // namespace doorlinkd
