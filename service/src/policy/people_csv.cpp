// The people file: its header, its rows read into people, and the file
// written from people.
#include "policy/people_csv.h"

#include <algorithm>
#include <unordered_map>

#include "cards/card_rules.h"
#include "cards/csv_text.h"
#include "policy/calendar.h"
#include "policy/person_fields.h"
#include "policy/policy_text.h"

namespace doorlinkd {
namespace {

// Indexes into kPeopleColumns.
enum PeopleColumn : std::size_t {
    kIdColumn,
    kNameColumn,
    kEmailColumn,
    kActiveColumn,
    kValidFromColumn,
    kValidUntilColumn,
    kGroupsColumn,
    kCardsColumn,
};
constexpr std::size_t kColumnCount = kPeopleColumns.size();

// The column a field stands in; fields past the last are counted with it.
const char* column_at(std::size_t field) { return kPeopleColumns[std::min(field, kColumnCount - 1)]; }

std::string header_line() {
    std::string line;
    for (const char* column : kPeopleColumns) {
        if (!line.empty()) line += ',';
        line += column;
    }
    return line;
}

void check_header(CsvReader& reader) {
    CsvRow header;
    auto refuse = [](std::size_t field, const std::string& reason) {
        RowErrors errors;
        errors.add(RowError{1, column_at(field), reason + "; the header line is " + header_line()});
        throw errors.refusal();
    };
    if (!reader.next(header)) refuse(0, "the file is empty");
    if (!header.error.empty()) refuse(header.errorField, header.error);
    const std::size_t common = std::min(header.fields.size(), kColumnCount);
    for (std::size_t at = 0; at < common; ++at) {
        if (header.fields[at] != kPeopleColumns[at])
            refuse(at, "the header has " + header.fields[at] + " where " + kPeopleColumns[at] + " belongs");
    }
    if (header.fields.size() < kColumnCount)
        refuse(common, std::string("the header has no column ") + kPeopleColumns[common]);
    if (header.fields.size() > kColumnCount)
        refuse(common, "the header has a column " + header.fields[common] + " after the last");
}

// The lines on which each id and card number is first, so that a later row
// repeating one is refused.
struct FirstLines {
    std::unordered_map<std::string, int> ids;
    std::unordered_map<std::string, int> cards;
};

// Why value is refused as one seen before (it is remembered otherwise).
std::string repeated(std::unordered_map<std::string, int>& firstLines, const std::string& value, int line) {
    const auto first = firstLines.emplace(value, line);
    if (first.second) return "";
    if (first.first->second == line) return " is twice on this line";
    return " is already on line " + std::to_string(first.first->second);
}

// Collects the errors of one row's fields.
class RowChecker {
public:
    RowChecker(const CsvRow& row, std::vector<RowError>& errors)
        : row_(row), errors_(errors), before_(errors.size()) {}

    const std::string& field(PeopleColumn column) const { return row_.fields[column]; }
    bool refused() const { return errors_.size() != before_; }
    void refuse(PeopleColumn column, std::string reason) {
        errors_.push_back(RowError{row_.line, kPeopleColumns[column], std::move(reason)});
    }

    // Puts a field's parsed value into out, or refuses the field for reason.
    template <typename T, typename Out>
    void take(PeopleColumn column, std::optional<T> parsed, const std::string& reason, Out& out) {
        if (parsed) {
            out = std::move(*parsed);
        } else {
            refuse(column, reason);
        }
    }
    // Puts the field into out when it passes the person's field rule.
    bool take(PeopleColumn column, PersonField rule, std::string& out) {
        std::string problem = person_field_problem(rule, field(column));
        if (!problem.empty()) {
            refuse(column, std::move(problem));
            return false;
        }
        out = field(column);
        return true;
    }
    // A date; an empty field is none.
    void take_date(PeopleColumn column, std::optional<CalendarDate>& out) {
        if (field(column).empty()) return;
        std::string reason;
        take(column, parse_date(field(column), reason), reason, out);
    }

private:
    const CsvRow& row_;
    std::vector<RowError>& errors_;
    std::size_t before_;
};

std::optional<Person> person_of(const CsvRow& row, FirstLines& firstLines, std::vector<RowError>& errors) {
    RowChecker check(row, errors);
    Person person;
    if (check.take(kIdColumn, PersonField::id, person.id)) {
        const std::string again = repeated(firstLines.ids, person.id, row.line);
        if (!again.empty()) check.refuse(kIdColumn, "id " + person.id + again);
    }
    check.take(kNameColumn, PersonField::name, person.name);
    std::string email;
    if (check.take(kEmailColumn, PersonField::email, email) && !email.empty()) person.email = email;
    std::string reason;
    check.take(kActiveColumn, parse_flag(check.field(kActiveColumn), true, reason), reason, person.active);
    check.take_date(kValidFromColumn, person.validFrom);
    check.take_date(kValidUntilColumn, person.validUntil);
    if (person.validFrom && person.validUntil && *person.validUntil < *person.validFrom) {
        check.refuse(kValidUntilColumn,
                     date_text(*person.validUntil) + " is before valid_from " + date_text(*person.validFrom));
    }
    person.groups = split_words(check.field(kGroupsColumn));
    check.take(kCardsColumn, parse_person_cards(check.field(kCardsColumn), reason), reason, person.cards);
    for (const PersonCard& card : person.cards) {
        // Numbers of another form are refused with the policy's problems;
        // they are not shown here.
        if (!card_text_problem(card.card).empty()) continue;
        const std::string again = repeated(firstLines.cards, card.card, row.line);
        if (!again.empty()) check.refuse(kCardsColumn, "card " + card.card + again);
    }
    if (check.refused()) return std::nullopt;
    return person;
}

std::string_view without_byte_order_mark(std::string_view text) {
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    return text.substr(0, kMark.size()) == kMark ? text.substr(kMark.size()) : text;
}

}  // namespace

std::vector<PersonRow> parse_people_csv(const std::string& text) {
    RowErrors errors;
    std::vector<PersonRow> people = parse_people_csv(text, errors);
    if (!errors.empty()) throw errors.refusal();
    return people;
}

std::vector<PersonRow> parse_people_csv(const std::string& text, RowErrors& errors, const RowLimit& limit) {
    CsvReader reader(without_byte_order_mark(text));
    check_header(reader);
    std::vector<PersonRow> people;
    FirstLines firstLines;
    std::size_t rows = 0;
    CsvRow row;
    std::vector<RowError> rowErrors;
    while (reader.next(row)) {
        if (++rows > limit.rows) {
            throw Refused("more than " + std::to_string(limit.rows) + " rows (" + limit.why + "): row " +
                          std::to_string(rows) + " is on line " + std::to_string(row.line));
        }
        if (!row.error.empty()) {
            errors.add(RowError{row.line, column_at(row.errorField), row.error});
            continue;
        }
        if (row.fields.size() != kColumnCount) {
            errors.add(RowError{row.line, column_at(row.fields.size()),
                                std::to_string(kColumnCount) + " fields expected, " +
                                    std::to_string(row.fields.size()) + " found"});
            continue;
        }
        rowErrors.clear();
        std::optional<Person> person = person_of(row, firstLines, rowErrors);
        for (RowError& error : rowErrors) errors.add(std::move(error));
        if (person) people.push_back(PersonRow{row.line, std::move(*person)});
    }
    return people;
}

std::string write_people_csv(const std::vector<Person>& people) {
    std::string text = header_line() + '\n';
    for (const Person& person : people) {
        const std::array<std::string, kColumnCount> fields = {
            person.id,
            person.name,
            person.email.value_or(""),
            flag_text(person.active),
            person.validFrom ? date_text(*person.validFrom) : "",
            person.validUntil ? date_text(*person.validUntil) : "",
            join_words(person.groups),
            person_cards_text(person.cards),
        };
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            if (i > 0) text += ',';
            append_csv_field(text, fields[i]);
        }
        text += '\n';
    }
    return text;
}

}  // namespace doorlinkd
