// INI files: the document parser with its lookups and edits, and the profile
// reads and writes of a file whose text comes from the input.
//   size byte of the caller's read buffer, up to three settings (section,
//   key, value: texts with a length byte each; their count is the first
//   byte's bits 6-7), then the file's text.
// For names and values a caller could write back and read again, a value set
// is found again, also after the document has been written out and parsed,
// the batch edit gives the same text as edits one by one, and a profile
// write reads back as written.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini/ini_document.h"
#include "platform/profile.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"

using namespace doorlink;
using platform::ini::Document;

namespace {

bool is_name_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

// A section or key name that stands for itself on a line.
bool plain_name(std::string_view name) {
    if (name.empty() || name.size() > 40) return false;
    for (char c : name) {
        if (!is_name_character(c)) return false;
    }
    return true;
}

// A value on one line, without blanks at either end that a read would trim.
bool plain_value(std::string_view value) {
    for (char c : value) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return value.empty() || (value.front() != ' ' && value.back() != ' ');
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

struct Setting {
    std::string section, key, value;
    bool plain() const { return plain_name(section) && plain_name(key) && plain_value(value); }
};

// The value that a lookup of setting i should find after all settings: the
// last setting of the same section and key.
const std::string& expected_value(const std::vector<Setting>& settings, size_t i) {
    const std::string* value = &settings[i].value;
    for (size_t j = i + 1; j < settings.size(); ++j) {
        if (same_name(settings[j].section, settings[i].section) &&
            same_name(settings[j].key, settings[i].key)) {
            value = &settings[j].value;
        }
    }
    return *value;
}

void check_document(const std::string& text, const std::vector<Setting>& settings) {
    Document doc = Document::parse(text);
    for (const Setting& s : settings) {
        if (auto found = doc.find(s.section, s.key)) {
            platform::ini::strip_quotes(*found);
            platform::ini::parse_leading_int(*found);
        }
    }
    Document::parse(doc.serialize());

    bool plain = !settings.empty();
    for (const Setting& s : settings) plain = plain && s.plain();
    if (!plain) {
        // Anything at all may be written; it must merely not break.
        for (const Setting& s : settings) doc.set(s.section, s.key, s.value);
        Document::parse(doc.serialize());
        return;
    }

    Document oneByOne = doc;
    for (const Setting& s : settings) oneByOne.set(s.section, s.key, s.value);
    Document batch = doc;
    std::vector<platform::ini::Setting> edits;
    for (const Setting& s : settings) edits.push_back({s.section, s.key, s.value});
    batch.set_all(edits);
    const std::string written = oneByOne.serialize();
    FUZZ_CHECK(batch.serialize() == written);

    const Document reread = Document::parse(written);
    for (size_t i = 0; i < settings.size(); ++i) {
        const std::string& expected = expected_value(settings, i);
        FUZZ_CHECK(oneByOne.find(settings[i].section, settings[i].key) == std::string_view(expected));
        FUZZ_CHECK(reread.find(settings[i].section, settings[i].key) == std::string_view(expected));
    }
}

void check_profile(const std::string& text, const std::vector<Setting>& settings, uint32_t bufferSize) {
    const std::string path = fuzz::home() + "/profile.ini";
    fuzz::write_file(path, text);
    std::vector<char> buffer(bufferSize);
    for (const Setting& s : settings) {
        const uint32_t n = platform::profile_read_string(s.section.c_str(), s.key.c_str(), "none",
                                                         buffer.data(), bufferSize, path.c_str());
        FUZZ_CHECK(bufferSize == 0 || n < bufferSize);
        platform::profile_read_int(s.section.c_str(), s.key.c_str(), -1, path.c_str());
    }
    if (settings.empty() || !settings[0].plain()) return;
    const Setting& s = settings[0];
    if (!platform::profile_write_string(s.section.c_str(), s.key.c_str(), s.value.c_str(), path.c_str())) {
        return;
    }
    std::vector<char> value(256);
    platform::profile_read_string(s.section.c_str(), s.key.c_str(), "", value.data(), 256, path.c_str());
    FUZZ_CHECK(std::string_view(value.data()) == platform::ini::strip_quotes(s.value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const uint8_t first = in.u8();
    const uint32_t bufferSize = first & 0x3F;
    std::vector<Setting> settings(first >> 6);
    for (Setting& s : settings) {
        s.section = in.text(64);
        s.key = in.text(64);
        s.value = in.text(128);
    }
    const std::string text(reinterpret_cast<const char*>(in.rest()), in.remaining());
    check_document(text, settings);
    check_profile(text, settings, bufferSize);
    return 0;
}
