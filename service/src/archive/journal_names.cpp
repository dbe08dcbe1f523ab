#include "archive/journal_names.h"

#include <cstdio>
#include <vector>

namespace doorlinkd {
namespace {

constexpr size_t kStartDigits = 14;  // yyyymmddhhmmss
constexpr size_t kNumberDigits = 3;
constexpr size_t kCardDigits = 8;
constexpr size_t kTimeDigits = 14;
constexpr int kLargestKind = 255;

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// "<head><digits><tail>" with at least one digit.
bool head_digits_tail(const std::string& name, const std::string& head, const std::string& tail) {
    return name.size() > head.size() + tail.size() && name.compare(0, head.size(), head) == 0 &&
           ends_with(name, tail) &&
           all_digits(name.substr(head.size(), name.size() - head.size() - tail.size()));
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == separator) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace

std::string number_text(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", number);
    return text;
}

bool all_digits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::optional<RetrievalFileName> retrieval_file_name(const std::string& name, const std::string& number) {
    const size_t stemLength = kStartDigits + kNumberDigits;
    if (name.size() < stemLength + 4 || !ends_with(name, ".txt")) return std::nullopt;
    RetrievalFileName file{name.substr(0, stemLength), 1};
    if (!all_digits(file.stem) || file.stem.compare(kStartDigits, kNumberDigits, number) != 0)
        return std::nullopt;
    const std::string copy = name.substr(stemLength, name.size() - stemLength - 4);
    if (copy.empty()) return file;
    // "_<n>" as the library writes it: n from 2, without leading zeros, a
    // few digits at most. So no two names give one key ("_1" would be the
    // name without a copy, "_02" that of "_2").
    if (copy.size() < 2 || copy.size() > 8 || copy[0] != '_' || copy[1] == '0' || !all_digits(copy.substr(1)))
        return std::nullopt;
    file.copy = std::stol(copy.substr(1));
    if (file.copy < 2) return std::nullopt;
    return file;
}

bool temporary_photo_name(const std::string& name, const std::string& number) {
    return head_digits_tail(name, number, ".jpg");
}

std::string photo_name(const std::string& card, const std::string& time, const std::string& number,
                       int image) {
    char imageText[16];
    std::snprintf(imageText, sizeof imageText, "%04d", image);
    return card + time + number + imageText + ".jpg";
}

bool photo_name_of(const std::string& name, const std::string& card, const std::string& time,
                   const std::string& number) {
    return head_digits_tail(name, card + time + number, ".jpg");
}

std::optional<RecordLine> parse_record_line(const std::string& line, const std::string& number) {
    const std::vector<std::string> f = split(line, ',');
    if (f.size() != 4 || f[0].size() != kCardDigits || !all_digits(f[0]) || f[1].size() != kTimeDigits ||
        !all_digits(f[1]) || f[2] != number || f[3].size() > 3 || !all_digits(f[3])) {
        return std::nullopt;
    }
    const int kind = std::stoi(f[3]);
    if (kind > kLargestKind) return std::nullopt;
    return RecordLine{f[0], f[1], kind};
}

}  // namespace doorlinkd
