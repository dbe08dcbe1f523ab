// Instants of the zone tests written as UTC texts, read by the C library,
// which the code under test does not use.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Milliseconds of a UTC text "yyyymmddhhmm", with "ss" after it or not.
inline int64_t utc_ms(const std::string& text) {
    std::tm fields{};
    fields.tm_year = std::stoi(text.substr(0, 4)) - 1900;
    fields.tm_mon = std::stoi(text.substr(4, 2)) - 1;
    fields.tm_mday = std::stoi(text.substr(6, 2));
    fields.tm_hour = std::stoi(text.substr(8, 2));
    fields.tm_min = std::stoi(text.substr(10, 2));
    if (text.size() >= 14) fields.tm_sec = std::stoi(text.substr(12, 2));
    return static_cast<int64_t>(::timegm(&fields)) * 1000;
}
