#include "archive/photo_hash.h"

#include <openssl/evp.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "model/errors.h"

namespace doorlinkd {

std::string sha256_hex(const std::vector<uint8_t>& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        throw StoreError("SHA-256 is not available");
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0F];
    }
    return text;
}

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
