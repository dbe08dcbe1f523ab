// MAC texts: exactly 12 hexadecimal digits, either case, no separators.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace doorlink::core {

using Mac = std::array<uint8_t, 6>;

// 1 and the six bytes, first pair first; 0 with mac untouched when the text
// is null, not 12 characters long or holds a non-hexadecimal character.
int ParseMacText(const char* text, Mac& mac);

// Twelve lower-case hexadecimal digits.
std::string FormatMacText(const uint8_t* bytes);

// The value of one hexadecimal digit, or -1.
int hex_digit_value(char c);

}  // namespace doorlink::core
