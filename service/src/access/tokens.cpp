#include "access/tokens.h"

#include <openssl/rand.h>

#include <cstdint>
#include <vector>

#include "common/sha256.h"
#include "model/errors.h"

namespace doorlinkd {

std::string new_token() {
    unsigned char random[32];
    if (RAND_bytes(random, sizeof random) != 1) throw StoreError("no random bytes for a token");
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string token = "dl_";
    uint32_t bits = 0;
    int held = 0;
    for (unsigned char byte : random) {
        bits = bits << 8 | byte;
        held += 8;
        while (held >= 6) {
            held -= 6;
            token += alphabet[(bits >> held) & 0x3F];
        }
    }
    if (held > 0) token += alphabet[(bits << (6 - held)) & 0x3F];
    return token;
}

std::string token_hash(const std::string& token) {
    return sha256_hex(std::vector<uint8_t>(token.begin(), token.end()));
}

bool is_token_name(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_' || c == '.' || c == '@';
        if (!ok) return false;
    }
    return true;
}

}  // namespace doorlinkd
