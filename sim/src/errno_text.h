// The text of an errno value, as strerror gives it: GNU's strerror_r (it
// returns the text) rather than strerror, whose text another thread may
// overwrite.
#pragma once

#include <string.h>

#include <string>

namespace doorsim {

inline std::string errno_text(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace doorsim
