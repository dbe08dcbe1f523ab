// Reading a fuzz input: small values and texts from its front, then the rest
// as the datagrams of a scripted peer. Reading past the end gives zeros and
// empty texts, so that every input, however short, is a valid script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace doorlink::fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t remaining() const { return size_ - at_; }

    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() {
        const uint32_t high = u8();
        return static_cast<uint16_t>(high << 8 | u8());
    }
    uint32_t u32() {
        const uint32_t high = u16();
        return high << 16 | u16();
    }

    // count bytes, zero-filled past the end.
    std::vector<uint8_t> bytes(size_t count) {
        std::vector<uint8_t> out(count, 0);
        const size_t n = count < remaining() ? count : remaining();
        if (n) std::memcpy(out.data(), data_ + at_, n);
        at_ += n;
        return out;
    }

    // A text of at most maxLength characters, its length in the byte before
    // it; as a C string it ends at its first zero.
    std::string text(size_t maxLength = 255) {
        size_t length = u8();
        if (length > maxLength) length = maxLength;
        if (length > remaining()) length = remaining();
        std::string out(reinterpret_cast<const char*>(data_ + at_), length);
        at_ += length;
        return out;
    }

    // A text with a two-byte length, for file contents.
    std::string long_text() {
        size_t length = u16();
        if (length > remaining()) length = remaining();
        std::string out(reinterpret_cast<const char*>(data_ + at_), length);
        at_ += length;
        return out;
    }

    // Everything not read yet.
    const uint8_t* rest() const { return data_ + at_; }
    void skip_all() { at_ = size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace doorlink::fuzz
