// Small explicit byte writers and a bounds-checked reader for datagrams and
// file records. Offsets are named by the code that uses them; nothing here
// copies structs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace doorlink::core {

// Writes into a fixed request area. A write that would fall outside the area
// is dropped and remembered, so a layout error shows up in tests as !ok().
class ByteWriter {
public:
    ByteWriter(uint8_t* data, size_t size) : data_(data), size_(size) {}
    template <size_t N>
    explicit ByteWriter(std::array<uint8_t, N>& area) : ByteWriter(area.data(), N) {}

    ByteWriter& fill(uint8_t value) {
        std::memset(data_, value, size_);
        return *this;
    }
    ByteWriter& u8(size_t offset, uint8_t value) {
        if (offset < size_) data_[offset] = value;
        else ok_ = false;
        return *this;
    }
    // High byte first, as value / 256 and value % 256.
    ByteWriter& u16_be(size_t offset, uint32_t value) {
        u8(offset, static_cast<uint8_t>((value / 256) & 0xFF));
        return u8(offset + 1, static_cast<uint8_t>(value % 256));
    }
    ByteWriter& u32_be(size_t offset, uint32_t value) {
        u16_be(offset, value >> 16);
        return u16_be(offset + 2, value & 0xFFFF);
    }
    ByteWriter& bytes(size_t offset, const uint8_t* from, size_t count) {
        if (offset > size_ || count > size_ - offset) {
            ok_ = false;
            return *this;
        }
        if (count) std::memcpy(data_ + offset, from, count);
        return *this;
    }
    template <size_t N>
    ByteWriter& bytes(size_t offset, const std::array<uint8_t, N>& from) {
        return bytes(offset, from.data(), N);
    }

    bool ok() const { return ok_; }
    size_t size() const { return size_; }

private:
    uint8_t* data_;
    size_t size_;
    bool ok_ = true;
};

// Reads a received datagram or a file record. Every read names its offset;
// reads outside the valid bytes give 0 and clear ok(), so no byte beyond the
// end is ever touched.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t size() const { return size_; }
    bool has(size_t offset, size_t count) const { return offset <= size_ && count <= size_ - offset; }
    uint8_t u8(size_t offset) const {
        if (offset < size_) return data_[offset];
        ok_ = false;
        return 0;
    }
    uint32_t u16_be(size_t offset) const { return static_cast<uint32_t>(u8(offset)) * 256u + u8(offset + 1); }
    // Copies count bytes, or zeros when they are not all there.
    bool copy(size_t offset, uint8_t* to, size_t count) const {
        if (!has(offset, count)) {
            ok_ = false;
            std::memset(to, 0, count);
            return false;
        }
        if (count) std::memcpy(to, data_ + offset, count);
        return true;
    }
    bool equals(size_t offset, const uint8_t* expected, size_t count) const {
        return has(offset, count) && (count == 0 || std::memcmp(data_ + offset, expected, count) == 0);
    }
    template <size_t N>
    bool equals(size_t offset, const std::array<uint8_t, N>& expected) const {
        return equals(offset, expected.data(), N);
    }
    const uint8_t* data() const { return data_; }
    bool ok() const { return ok_; }

private:
    const uint8_t* data_;
    size_t size_;
    mutable bool ok_ = true;
};

}  // namespace doorlink::core
