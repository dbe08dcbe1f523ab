// UTF-8 texts as the databases and the page take them.
#pragma once

#include <string_view>

namespace doorlinkd {

// Whether text is well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF. PostgreSQL refuses any other text.
bool is_utf8(std::string_view text);

// Whether text is well-formed UTF-8 without control characters.
bool is_printable_utf8(std::string_view text);

}  // namespace doorlinkd
