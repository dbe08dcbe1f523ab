// One card's fields: checked into a Card, and a Card back into fields.
#include <cstddef>

#include "cards/card_csv.h"
#include "cards/card_rules.h"
#include "cards/day_text.h"

namespace doorlinkd {
namespace {

constexpr std::size_t kMaxExtraCards = 10;

// Collects the errors of one row's fields.
class FieldChecker {
public:
    FieldChecker(const CardFields& fields, int line, std::vector<RowError>& errors)
        : fields_(fields), line_(line), errors_(errors), before_(errors.size()) {}

    // The field's text, or null when it is not given (missing or empty).
    const std::string* given(std::size_t column) const {
        const auto& field = fields_[column];
        return field && !field->empty() ? &*field : nullptr;
    }
    void refuse(std::size_t column, std::string reason) {
        errors_.push_back(RowError{line_, kCardColumns[column], std::move(reason)});
    }
    bool refused() const { return errors_.size() != before_; }

    void digits(std::size_t column, std::size_t count, std::string& out) {
        const std::string* text = given(column);
        if (!text) {
            refuse(column, "missing: " + std::to_string(count) + " digits are required");
        } else if (text->size() != count || !all_digits(*text)) {
            // A PIN is not echoed: refusals go to the audit log and to logs.
            const std::string shown = column == kPasswordColumn ? std::string("the PIN") : *text;
            refuse(column, shown + " is not " + std::to_string(count) + " digits");
        } else {
            out = *text;
        }
    }
    void style(std::size_t column, int max, const char* allowed, int& out) {
        const std::string* text = given(column);
        if (!text) return;
        if (text->size() == 1 && (*text)[0] >= '0' && (*text)[0] <= '0' + max) {
            out = (*text)[0] - '0';
        } else {
            refuse(column, *text + " is not " + allowed);
        }
    }

private:
    const CardFields& fields_;
    int line_;
    std::vector<RowError>& errors_;
    std::size_t before_;
};

}  // namespace

std::optional<Card> card_from_fields(const CardFields& fields, int line, std::vector<RowError>& errors) {
    FieldChecker check(fields, line, errors);
    Card card;
    if (const std::string* text = check.given(kCardColumn)) {
        const std::string problem = card_text_problem(*text);
        if (problem.empty()) {
            card.card = *text;
        } else {
            check.refuse(kCardColumn, problem);
        }
    } else {
        check.refuse(kCardColumn, "missing: 8 digits are required");
    }
    // Exactly six: the controller keeps six digits, so a shorter serial or
    // password would come back from it changed.
    check.digits(kSerialColumn, 6, card.serial);
    check.digits(kPasswordColumn, 6, card.password);
    check.style(kUserStyleColumn, 1, "0 or 1", card.userStyle);
    check.style(kOpenStyleColumn, 2, "0, 1 or 2", card.openStyle);
    for (std::size_t day = 0; day < kDays; ++day) {
        const std::size_t column = kFirstDayColumn + day;
        const std::string* text = check.given(column);
        std::string reason;
        if (text && !normal_day_text(*text, card.days[day], reason)) check.refuse(column, reason);
    }
    if (const std::string* text = check.given(kExtraCardsColumn)) {
        card.extraCards = split_words(*text);
        if (card.extraCards.size() > kMaxExtraCards) {
            check.refuse(kExtraCardsColumn, std::to_string(card.extraCards.size()) +
                                                " further cards; at most " + std::to_string(kMaxExtraCards));
        } else {
            for (const std::string& extra : card.extraCards) {
                std::string problem = card_text_problem(extra);
                // The controller ends its list of further cards at a zero
                // card, so one would never read back.
                if (problem.empty() && extra == "00000000")
                    problem = "the further card 00000000 ends the list";
                if (problem.empty()) continue;
                check.refuse(kExtraCardsColumn, problem);
                break;
            }
        }
    }
    if (const std::string* text = check.given(kControllersColumn)) {
        card.controllers = split_words(*text);
        for (const std::string& name : card.controllers) {
            if (is_controller_name(name)) continue;
            check.refuse(kControllersColumn,
                         name + " is not a controller name (1 to 32 of letters, digits, '-', '_' and '.')");
            break;
        }
    }
    if (check.refused()) return std::nullopt;
    return card;
}

CardFields fields_of(const Card& card) {
    CardFields fields;
    fields[kCardColumn] = card.card;
    fields[kSerialColumn] = card.serial;
    fields[kPasswordColumn] = card.password;
    fields[kUserStyleColumn] = std::to_string(card.userStyle);
    fields[kOpenStyleColumn] = std::to_string(card.openStyle);
    for (std::size_t day = 0; day < kDays; ++day) fields[kFirstDayColumn + day] = card.days[day];
    fields[kExtraCardsColumn] = join_words(card.extraCards);
    fields[kControllersColumn] = join_words(card.controllers);
    return fields;
}

}  // namespace doorlinkd
