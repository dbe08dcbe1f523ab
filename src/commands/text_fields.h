// The texts that commands cut into fixed-width items and small decimal
// fields: time lists, rest days and card texts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace doorlink::commands {

// The number of items of the given width in text: its length divided by the
// width, plus one when the rest is one character short of an item (a last
// item without its separator); at most maxItems.
size_t count_items(const char* text, size_t width, size_t maxItems);

// The characters text[offset .. offset + width) (fewer where the text ends
// first) read as a decimal number the way atoi reads a text: leading blanks
// and one sign allowed, reading stops at the first non-digit, no digits give 0.
int32_t read_decimal_field(const char* text, size_t offset, size_t width);

// The same, truncated to its low 8 bits.
inline uint8_t read_byte_field(const char* text, size_t offset, size_t width) {
    return static_cast<uint8_t>(read_decimal_field(text, offset, width) & 0xFF);
}

}  // namespace doorlink::commands
