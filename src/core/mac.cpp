#include "core/mac.h"

#include <cstdio>

namespace doorlink::core {

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int ParseMacText(const char* text, Mac& mac) {
    if (!text) return 0;
    int values[12];
    for (int i = 0; i < 12; ++i) {
        if (text[i] == '\0') return 0;
        values[i] = hex_digit_value(text[i]);
        if (values[i] < 0) return 0;
    }
    if (text[12] != '\0') return 0;
    for (size_t i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(values[2 * i] * 16 + values[2 * i + 1]);
    return 1;
}

std::string FormatMacText(const uint8_t* bytes) {
    char text[13];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3],
                  bytes[4], bytes[5]);
    return text;
}

}  // namespace doorlink::core
