#include "model/policy.h"

#include <array>
#include <cstdio>

namespace doorlinkd {

std::string date_text(const CalendarDate& date) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d", date.year, date.month, date.day);
    return text.data();
}

}  // namespace doorlinkd
