#include "commands/text_fields.h"

#include <cstring>

namespace doorlink::commands {

size_t count_items(const char* text, size_t width, size_t maxItems) {
    if (!text || width == 0) return 0;
    const size_t length = std::strlen(text);
    size_t items = length / width + (length % width == width - 1 ? 1 : 0);
    return items < maxItems ? items : maxItems;
}

int32_t read_decimal_field(const char* text, size_t offset, size_t width) {
    if (!text) return 0;
    // Never look past the text's end: a field beyond it is empty.
    size_t available = 0;
    while (available < offset + width && text[available] != '\0') ++available;
    if (available <= offset) return 0;
    const char* p = text + offset;
    const char* end = text + available;
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    uint32_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
    return static_cast<int32_t>(negative ? 0u - value : value);
}

}  // namespace doorlink::commands
