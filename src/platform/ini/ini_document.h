// The text of an INI file as the profile functions see it: lines kept as they
// stand, with an index of sections and keys for lookups. Used by backends
// whose platform has no profile functions of its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace doorlink::platform::ini {

struct Setting {
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

class Document {
public:
    Document() = default;
    static Document parse(std::string_view text);

    // The trimmed value of section/key (names matched without regard to
    // case), or nothing when either is absent.
    std::optional<std::string_view> find(std::string_view section, std::string_view key) const;

    // The names of the keys that find() sees in section, each once, in the
    // order of the file; none when the section is absent.
    std::vector<std::string> key_names(std::string_view section) const;

    // Replaces the first section/key in place, or adds the key at the end of
    // the section, or the section at the end of the document.
    void set(std::string_view section, std::string_view key, std::string_view value);

    // set() for each setting in turn, with one rebuild of the index.
    void set_all(const std::vector<Setting>& settings);

    std::string serialize() const;

private:
    enum class LineKind { Other, Section, Key };
    struct Line {
        std::string text;
        LineKind kind = LineKind::Other;
        std::string name;       // section or key name, trimmed
        size_t valueBegin = 0;  // key lines: the trimmed value within text
        size_t valueLength = 0;
    };
    struct SectionIndex {
        size_t header = 0;                             // line of the section header
        size_t lastLine = 0;                           // last non-blank line belonging to the section
        std::unordered_map<std::string, size_t> keys;  // lower-case name -> first line
    };

    static Line classify(std::string text);
    void rebuild_index();

    std::vector<Line> lines_;
    std::string lineEnd_ = "\n";
    bool endsWithNewline_ = true;
    std::unordered_map<std::string, SectionIndex> sections_;  // lower-case name -> first section
};

// The value as the profile read functions return it: one pair of matching
// quotes around it removed.
std::string_view strip_quotes(std::string_view value);

// GetPrivateProfileInt's reading of a value: leading blanks, one sign, an
// optional base prefix (0x, 0o, 0b), the digits that follow, wrapping at 32
// bits; 0 when there are none.
int32_t parse_leading_int(std::string_view value);

}  // namespace doorlink::platform::ini
