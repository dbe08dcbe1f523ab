#include "common/utf8.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace doorlinkd {

bool is_utf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        // The sequence's length and the least value it may encode (no
        // overlong forms, no surrogates).
        const size_t length = c >= 0xf0 && c <= 0xf4   ? 4
                              : c >= 0xe0 && c <= 0xef ? 3
                              : c >= 0xc2 && c <= 0xdf ? 2
                                                       : 0;
        if (length == 0 || text.size() - i < length) return false;
        uint32_t value = c & (0x7fu >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            value = (value << 6) | (next & 0x3fu);
        }
        const uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return false;
        i += length;
    }
    return true;
}

bool is_printable_utf8(std::string_view text) {
    const bool control = std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
    return !control && is_utf8(text);
}

}  // namespace doorlinkd
