#include "policy/person_fields.h"

#include <algorithm>

#include "common/utf8.h"

namespace doorlinkd {
namespace {

constexpr std::size_t kMaxIdBytes = 64;
constexpr std::size_t kMaxNameBytes = 200;
constexpr std::size_t kMaxEmailBytes = 254;
constexpr std::size_t kMaxNotesBytes = 1000;

bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }
bool is_line_break(char c) { return c == '\n' || c == '\r'; }

template <typename Predicate>
bool any_byte(std::string_view value, Predicate predicate) {
    return std::any_of(value.begin(), value.end(), predicate);
}

std::string too_long(std::string_view value, std::size_t most) {
    return "is " + std::to_string(value.size()) + " bytes; at most " + std::to_string(most);
}

std::string id_problem(std::string_view value) {
    if (value.empty()) return "is empty";
    if (value.size() > kMaxIdBytes) return too_long(value, kMaxIdBytes);
    // Printable ASCII only: an id is typed, compared and shown as it is.
    if (any_byte(value, [](char c) { return c <= ' ' || c > '~' || c == ','; }))
        return "is not printable ASCII without spaces and commas";
    return "";
}

std::string name_problem(std::string_view value) {
    if (value.empty()) return "is empty";
    if (value.size() > kMaxNameBytes) return too_long(value, kMaxNameBytes);
    if (!is_printable_utf8(value)) return "holds a control character, a line break or no UTF-8";
    return "";
}

std::string email_problem(std::string_view value) {
    if (value.empty()) return "";
    if (value.size() > kMaxEmailBytes) return too_long(value, kMaxEmailBytes);
    if (any_byte(value, [](char c) { return c == ' '; }) || !is_printable_utf8(value))
        return "holds a space, a control character or no UTF-8";
    const std::size_t at = value.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == value.size() ||
        value.find('@', at + 1) != std::string_view::npos)
        return "is not an address with one '@' between text";
    return "";
}

std::string notes_problem(std::string_view value) {
    if (value.size() > kMaxNotesBytes) return too_long(value, kMaxNotesBytes);
    if (any_byte(value, [](char c) { return is_control(c) && !is_line_break(c); }))
        return "holds a control character other than a line break";
    if (!is_utf8(value)) return "is no UTF-8";
    return "";
}

}  // namespace

const char* person_field_name(PersonField field) {
    switch (field) {
        case PersonField::id: return "id";
        case PersonField::name: return "name";
        case PersonField::email: return "email";
        case PersonField::notes: return "notes";
    }
    return "";
}

std::string person_field_problem(PersonField field, std::string_view value) {
    std::string problem;
    switch (field) {
        case PersonField::id: problem = id_problem(value); break;
        case PersonField::name: problem = name_problem(value); break;
        case PersonField::email: problem = email_problem(value); break;
        case PersonField::notes: problem = notes_problem(value); break;
    }
    if (problem.empty()) return problem;
    return std::string("the ") + person_field_name(field) + " " + problem;
}

}  // namespace doorlinkd
