// %XX escapes of URLs and URIs, decoded.
#pragma once

#include <string>

namespace doorlinkd {

// The text with each %XX (two hex digits) made its byte; a '%' not
// followed by two hex digits stays as it stands. plusIsBlank: '+' is a
// blank too, as in a query.
std::string percent_decoded(const std::string& text, bool plusIsBlank = false);

}  // namespace doorlinkd
