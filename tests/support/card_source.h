// Card list source files for tests: every value in the form the read-back
// writes it, so that a round trip can give the same file back.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>

namespace doorlink::testing {

// The "CardNo" value of card i: one to three card texts.
inline std::string source_card_text(int i, int seed = 0) {
    char text[40];
    std::snprintf(text, sizeof text, "%03d%05d", (i + seed) % 256, (i * 37 + seed) % 65536);
    std::string value = text;
    for (int k = 1; k <= i % 3; ++k) {
        std::snprintf(text, sizeof text, ",%03d%05d", (i + k) % 256, (i * 101 + k) % 65536 + 1);
        value += text;
    }
    return value;
}

// Writes cards 1..count, section by section as the read-back INI has them.
inline void write_card_source(const std::string& path, int count, int seed = 0) {
    static const char* const days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                       "Thursday", "Friday", "Saturday"};
    std::ofstream out(path, std::ios::trunc);
    auto section = [&](const char* name, auto value) {
        out << '[' << name << "]\n";
        for (int i = 1; i <= count; ++i) out << name << i << '=' << value(i) << '\n';
    };
    auto digits = [&](int i, int salt) {
        char text[16];
        std::snprintf(text, sizeof text, "%06d", (i * 7919 + salt + seed) % 1000000);
        return std::string(text);
    };
    section("CardNo", [&](int i) { return source_card_text(i, seed); });
    section("SerialNo", [&](int i) { return digits(i, 1); });
    section("Password", [&](int i) { return digits(i, 2); });
    section("UserStyle", [&](int i) { return std::to_string(i % 2); });
    section("OpenStyle", [&](int i) { return std::to_string((i + seed) % 3); });
    for (int d = 0; d < 7; ++d) {
        section(days[d], [&](int i) {
            std::string text;
            for (int r = 0; r < (i + d + seed) % 4; ++r) {
                char range[32];
                std::snprintf(range, sizeof range, "%02d%02d-%02d%02d-%02d;", (r * 6 + d) % 24, (i + r) % 60,
                              (r * 6 + 5) % 24, (i * 3 + d) % 60, (i + r) % 100);
                text += range;
            }
            return text;
        });
    }
}

}  // namespace doorlink::testing
