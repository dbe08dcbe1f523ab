#include "platform/ini/ini_document.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <deque>

namespace doorlink::platform::ini {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

Document::Line Document::classify(std::string text) {
    Line line;
    line.text = std::move(text);
    std::string_view body = trim(line.text);
    if (body.empty() || body.front() == ';') return line;
    if (body.front() == '[') {
        size_t close = body.find(']');
        if (close == std::string_view::npos) return line;
        line.kind = LineKind::Section;
        line.name = std::string(trim(body.substr(1, close - 1)));
        return line;
    }
    size_t equals = body.find('=');
    if (equals == std::string_view::npos) return line;
    line.kind = LineKind::Key;
    line.name = std::string(trim(body.substr(0, equals)));
    std::string_view value = trim(body.substr(equals + 1));
    line.valueBegin = value.empty() ? line.text.size() : static_cast<size_t>(value.data() - line.text.data());
    line.valueLength = value.size();
    return line;
}

Document Document::parse(std::string_view text) {
    Document doc;
    if (text.find("\r\n") != std::string_view::npos) doc.lineEnd_ = "\r\n";
    doc.endsWithNewline_ = text.empty() || text.back() == '\n';
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(start, end - start);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        doc.lines_.push_back(classify(std::string(raw)));
        start = end + 1;
    }
    doc.rebuild_index();
    return doc;
}

void Document::rebuild_index() {
    sections_.clear();
    SectionIndex* current = nullptr;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.kind == LineKind::Section) {
            // Only the first section of a name is seen, as the platform does.
            auto [it, inserted] = sections_.try_emplace(lower(line.name));
            current = inserted ? &it->second : nullptr;
            if (current) {
                current->header = i;
                current->lastLine = i;
            }
            continue;
        }
        if (!current) continue;
        if (!trim(line.text).empty()) current->lastLine = i;
        if (line.kind == LineKind::Key) current->keys.try_emplace(lower(line.name), i);
    }
}

std::optional<std::string_view> Document::find(std::string_view section, std::string_view key) const {
    auto s = sections_.find(lower(trim(section)));
    if (s == sections_.end()) return std::nullopt;
    auto k = s->second.keys.find(lower(trim(key)));
    if (k == s->second.keys.end()) return std::nullopt;
    const Line& line = lines_[k->second];
    return std::string_view(line.text).substr(line.valueBegin, line.valueLength);
}

std::vector<std::string> Document::key_names(std::string_view section) const {
    std::vector<std::string> names;
    auto s = sections_.find(lower(trim(section)));
    if (s == sections_.end()) return names;
    std::vector<size_t> lines;
    lines.reserve(s->second.keys.size());
    for (const auto& key : s->second.keys) lines.push_back(key.second);
    std::sort(lines.begin(), lines.end());
    names.reserve(lines.size());
    for (size_t line : lines) names.push_back(lines_[line].name);
    return names;
}

void Document::set(std::string_view section, std::string_view key, std::string_view value) {
    section = trim(section);
    key = trim(key);
    std::string text = std::string(key) + "=" + std::string(value);
    auto s = sections_.find(lower(section));
    if (s != sections_.end()) {
        auto k = s->second.keys.find(lower(key));
        if (k != s->second.keys.end()) {
            // Keep the stored spelling of the key name.
            lines_[k->second] = classify(lines_[k->second].name + "=" + std::string(value));
        } else {
            lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(s->second.lastLine + 1),
                          classify(std::move(text)));
        }
    } else {
        if (!endsWithNewline_) endsWithNewline_ = true;
        lines_.push_back(classify("[" + std::string(section) + "]"));
        lines_.push_back(classify(std::move(text)));
    }
    rebuild_index();
}

void Document::set_all(const std::vector<Setting>& settings) {
    struct NewSection {
        std::string name;
        std::vector<Line> keys;
    };
    std::unordered_map<std::string, std::vector<Line>> addedToExisting;  // by lower-case section
    std::deque<NewSection> newSections;                                  // deque: the key lists do not move
    std::unordered_map<std::string, std::vector<Line>*> newSectionKeys;
    // Keys added by this batch, by lower-case section and key.
    std::unordered_map<std::string, std::pair<std::vector<Line>*, size_t>> added;

    for (const Setting& setting : settings) {
        const std::string_view section = trim(setting.section);
        const std::string_view key = trim(setting.key);
        const std::string sectionName = lower(section);
        auto s = sections_.find(sectionName);
        if (s != sections_.end()) {
            auto k = s->second.keys.find(lower(key));
            if (k != s->second.keys.end()) {
                lines_[k->second] = classify(lines_[k->second].name + "=" + std::string(setting.value));
                continue;
            }
        }
        const std::string id = sectionName + '\n' + lower(key);
        if (auto a = added.find(id); a != added.end()) {
            Line& line = (*a->second.first)[a->second.second];
            line = classify(line.name + "=" + std::string(setting.value));
            continue;
        }
        std::vector<Line>* target;
        if (s != sections_.end()) {
            target = &addedToExisting[sectionName];
        } else if (auto n = newSectionKeys.find(sectionName); n != newSectionKeys.end()) {
            target = n->second;
        } else {
            newSections.push_back({std::string(section), {}});
            target = &newSections.back().keys;
            newSectionKeys.emplace(sectionName, target);
        }
        target->push_back(classify(std::string(key) + "=" + std::string(setting.value)));
        added.emplace(id, std::make_pair(target, target->size() - 1));
    }

    if (!addedToExisting.empty()) {
        // New keys of an existing section follow its last non-blank line.
        std::vector<std::pair<size_t, std::vector<Line>*>> inserts;
        inserts.reserve(addedToExisting.size());
        for (auto& [name, keys] : addedToExisting) inserts.emplace_back(sections_[name].lastLine, &keys);
        std::sort(inserts.begin(), inserts.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<Line> merged;
        size_t next = 0;
        for (size_t i = 0; i < lines_.size(); ++i) {
            merged.push_back(std::move(lines_[i]));
            for (; next < inserts.size() && inserts[next].first == i; ++next) {
                for (Line& line : *inserts[next].second) merged.push_back(std::move(line));
            }
        }
        lines_ = std::move(merged);
    }
    for (NewSection& section : newSections) {
        endsWithNewline_ = true;
        lines_.push_back(classify("[" + section.name + "]"));
        for (Line& line : section.keys) lines_.push_back(std::move(line));
    }
    rebuild_index();
}

std::string Document::serialize() const {
    std::string out;
    for (size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i].text;
        if (i + 1 < lines_.size() || endsWithNewline_) out += lineEnd_;
    }
    return out;
}

std::string_view strip_quotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

int32_t parse_leading_int(std::string_view value) {
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    // The platform reads the number as its string-to-integer routine does:
    // a prefix 0x, 0o or 0b (lower case) chooses base 16, 8 or 2.
    uint32_t base = 10;
    if (i + 1 < value.size() && value[i] == '0') {
        char prefix = value[i + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) i += 2;
    }
    uint32_t result = 0;
    for (; i < value.size(); ++i) {
        char c = value[i];
        uint32_t digit = c >= '0' && c <= '9'   ? static_cast<uint32_t>(c - '0')
                         : c >= 'a' && c <= 'z' ? static_cast<uint32_t>(c - 'a' + 10)
                         : c >= 'A' && c <= 'Z' ? static_cast<uint32_t>(c - 'A' + 10)
                                                : 36u;
        if (digit >= base) break;
        result = result * base + digit;
    }
    if (negative) result = 0u - result;
    return static_cast<int32_t>(result);
}

}  // namespace doorlink::platform::ini
