// The card file and the card rules: a good file read and written back, every
// bad field named by line and column, day texts in their stored form, and
// the fleet's controller names and card limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cards/card_csv.h"
#include "cards/csv_text.h"
#include "cards/day_text.h"

namespace doorlinkd {
namespace {

const std::string kHeader =
    "card,serial,password,user_style,open_style,sunday,monday,tuesday,wednesday,thursday,friday,saturday,"
    "extra_cards,controllers";

// A card with the given number, serial and password, the rest defaults.
Card card_of(const std::string& number, const std::string& serial = "123456",
             const std::string& password = "123456") {
    Card card;
    card.card = number;
    card.serial = serial;
    card.password = password;
    return card;
}

std::vector<Card> cards_of(const std::vector<CardRow>& rows) {
    std::vector<Card> cards;
    for (const CardRow& row : rows) cards.push_back(row.card);
    return cards;
}

std::vector<RowError> refusals_of(const std::string& text) {
    try {
        parse_card_csv(text);
    } catch (const RowsRefused& refused) {
        return refused.rows();
    }
    ADD_FAILURE() << "the file was taken";
    return {};
}

TEST(CardCsv, GoodFileRoundTrips) {
    // CRLF line ends, a blank line, quoted fields (one over two lines), empty
    // fields that take their defaults, and no final line end.
    const std::string text = kHeader + "\r\n" +
                             "00100001,123456,654321,0,1,\"0800,1200,1\",0800-1200-01;1300-1730-01;,,,,,"
                             "0000/2359/255,\"00100002 00200003\",\"door-1\r\ndoor_2\"\r\n"
                             "\r\n"
                             "25565535,000001,000002,,,,,,,,,,,";
    const std::vector<CardRow> rows = parse_card_csv(text);
    ASSERT_EQ(rows.size(), 2u);

    Card first = card_of("00100001", "123456", "654321");
    first.userStyle = 0;
    first.openStyle = 1;
    first.days = {"0800-1200-01;", "0800-1200-01;1300-1730-01;", "", "", "", "", "0000-2359-255;"};
    first.extraCards = {"00100002", "00200003"};
    first.controllers = {"door-1", "door_2"};
    EXPECT_EQ(rows[0].line, 2);
    EXPECT_EQ(rows[0].card, first);

    EXPECT_EQ(rows[1].line, 5);  // the quoted field spans lines 2 and 3, line 4 is blank
    EXPECT_EQ(rows[1].card, card_of("25565535", "000001", "000002"));

    const std::string written = write_card_csv(cards_of(rows));
    EXPECT_EQ(cards_of(parse_card_csv(written)), cards_of(rows));
    EXPECT_EQ(write_card_csv(cards_of(parse_card_csv(written))), written);

    // A field with a comma, a quote or a line break is quoted, and reads back.
    std::string line;
    append_csv_field(line, "a,\"b\"\nc");
    append_csv_field(line += ',', "plain");
    EXPECT_EQ(line, "\"a,\"\"b\"\"\nc\",plain");
    CsvRow row;
    CsvReader reader(line);
    ASSERT_TRUE(reader.next(row));
    EXPECT_EQ(row.fields, (std::vector<std::string>{"a,\"b\"\nc", "plain"}));
}

TEST(CardCsv, FieldsRoundTripAndTakeDefaults) {
    Card card = card_of("00712345", "111111", "222222");
    card.userStyle = 0;
    card.openStyle = 0;
    card.days[3] = "0700-0800-03;";
    card.extraCards = {"00700001"};
    card.controllers = {"gate.north"};
    std::vector<RowError> errors;
    EXPECT_EQ(card_from_fields(fields_of(card), 0, errors), card);

    CardFields given{};
    given[0] = "00712345";
    given[1] = "111111";
    given[2] = "222222";
    EXPECT_EQ(card_from_fields(given, 0, errors), card_of("00712345", "111111", "222222"));
    EXPECT_TRUE(errors.empty());

    given[1].reset();  // a new card needs its serial
    EXPECT_FALSE(card_from_fields(given, 0, errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].column, "serial");
}

TEST(CardCsv, RefusesEveryBadFieldByLineAndColumn) {
    struct Bad {
        int column;  // the field changed in a good row; -1: the row is the text itself
        std::string value;
        std::string expectedColumn;
        std::string reason;
    };
    const std::string kNameRule = " (1 to 32 of letters, digits, '-', '_' and '.')";
    const std::string nineRanges =
        "0100-0200-1;0200-0300-1;0300-0400-1;0400-0500-1;0500-0600-1;"
        "0600-0700-1;0700-0800-1;0800-0900-1;0900-1000-1;";
    const std::string elevenCards =
        "00100001 00100002 00100003 00100004 00100005 00100006 00100007 "
        "00100008 00100009 00100010 00100011";
    const std::vector<Bad> table = {
        {0, "0010001", "card", "0010001 is not 8 digits"},
        {0, "0010000x", "card", "0010000x is not 8 digits"},
        {0, "25600001", "card", "site 256 is above 255"},
        {0, "00165536", "card", "number 65536 is above 65535"},
        {1, "12345", "serial", "12345 is not 6 digits"},
        {2, "1234567", "password", "the PIN is not 6 digits"},
        {1, "", "serial", "missing: 6 digits are required"},
        {3, "2", "user_style", "2 is not 0 or 1"},
        {4, "3", "open_style", "3 is not 0, 1 or 2"},
        {5, "2400-2401-1", "sunday", "range 1: 2400 is not a clock time (hhmm)"},
        {6, "0800-1200-1;1200-1260-1", "monday", "range 2: 1260 is not a clock time (hhmm)"},
        {7, "1200-0800-1", "tuesday", "range 1: start 1200 is not before end 0800"},
        {8, nineRanges, "wednesday", "more than 8 ranges"},
        {9, "0800-1200-256", "thursday", "range 1: 256 is not a tag (0 to 255)"},
        {12, elevenCards, "extra_cards", "11 further cards; at most 10"},
        {12, "00100001 99900001", "extra_cards", "site 999 is above 255"},
        {12, "00100001 00000000", "extra_cards", "the further card 00000000 ends the list"},
        {13, "door-1 door/2", "controllers", "door/2 is not a controller name" + kNameRule},
        {13, "\"door\"\"3\"", "controllers", "door\"3 is not a controller name" + kNameRule},
        {-1, "00100099,123456,123456,1,2,,,,,,,", "extra_cards", "14 fields expected, 12 found"},
        {-1, "00100098,123456,123456,1,2,,,,,,,,,,", "controllers", "14 fields expected, 15 found"},
        {-1, "00100001,123456,123456,1,2,,,,,,,,,", "card", "card 00100001 is already on line 2"},
        {-1, "\"00100097\"x,123456,123456,1,2,,,,,,,,,", "card", "text after the closing quote of a field"},
    };
    std::string text = kHeader + "\n00100001,123456,123456,1,2,,,,,,,,,\n";
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].column < 0) {
            text += table[i].value + "\n";
            continue;
        }
        std::vector<std::string> fields = {"002" + std::to_string(10000 + i),
                                           "123456",
                                           "123456",
                                           "1",
                                           "2",
                                           "",
                                           "",
                                           "",
                                           "",
                                           "",
                                           "",
                                           "",
                                           "",
                                           ""};
        fields[static_cast<std::size_t>(table[i].column)] = table[i].value;
        for (std::size_t f = 0; f < fields.size(); ++f) text += (f ? "," : "") + fields[f];
        text += "\n";
    }
    // One row with two bad fields: each is named.
    text += "00100096,1,123456,1,9,,,,,,,,,\n";

    std::vector<RowError> errors;
    try {
        parse_card_csv(text);
        FAIL() << "the file was taken";
    } catch (const RowsRefused& refused) {
        EXPECT_EQ(refused.what(), std::to_string(table.size() + 1) + " rows are refused");
        errors = refused.rows();
    }
    ASSERT_EQ(errors.size(), table.size() + 2);
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(table[i].value);
        EXPECT_EQ(errors[i].line, static_cast<int>(i) + 3);
        EXPECT_EQ(errors[i].column, table[i].expectedColumn);
        EXPECT_EQ(errors[i].reason, table[i].reason);
    }
    const int lastLine = static_cast<int>(table.size()) + 3;
    EXPECT_EQ(errors[table.size()].line, lastLine);
    EXPECT_EQ(errors[table.size()].column, "serial");
    EXPECT_EQ(errors[table.size() + 1].line, lastLine);
    EXPECT_EQ(errors[table.size() + 1].column, "open_style");
}

TEST(CardCsv, ListsTheFirstHundredBadRowsAndCountsTheRest) {
    // 25,000 bad rows, one good row among them, and a fleet error on a good
    // row before most of them: the first 100 rows by line are listed.
    std::string text = kHeader + "\n";
    for (int i = 0; i < 50; ++i) text += "x\n";                  // lines 2-51
    text += "00100001,123456,123456,1,2,,,,,,,,,nowhere\n";      // line 52
    text += "00100002,1,2,1,2,,,,,,,,,\n";                       // line 53: two errors
    for (int i = 0; i < 24947; ++i) text += "x,,,,,,,,,,,,,\n";  // three errors each
    text += "00100003,123456,123456,1,2,,,,,,,,,\n";             // good
    text += "x,y\n";                                             // the last line

    RowErrors errors;
    const std::vector<CardRow> rows = parse_card_csv(text, errors);
    ASSERT_EQ(rows.size(), 2u);
    check_fleet_rules(rows, {}, false, {{"a", "", "", 1}}, errors);
    const RowsRefused refused = errors.refusal("cards.csv: ");
    EXPECT_STREQ(refused.what(), "cards.csv: 25000 rows are refused; the first 100 are listed");
    EXPECT_EQ(refused.more_rows(), 24900u);
    // Lines 2-51 one error each, 52 one, 53 two, 54-101 three each.
    const std::vector<RowError>& listed = refused.rows();
    ASSERT_EQ(listed.size(), 50u + 1 + 2 + 48 * 3);
    EXPECT_EQ(listed[0].line, 2);
    EXPECT_EQ(listed[0].reason, "14 fields expected, 1 found");
    EXPECT_EQ(listed[50].line, 52);
    EXPECT_EQ(listed[50].reason, "no controller named nowhere");
    EXPECT_EQ(listed[51].column, "serial");
    EXPECT_EQ(listed[52].column, "password");
    EXPECT_EQ(listed[53].line, 54);
    EXPECT_EQ(listed[53].reason, "x is not 8 digits");
    EXPECT_EQ(listed.back().line, 101);
    EXPECT_EQ(listed.back().column, "password");
}

TEST(CardCsv, RowsPastTheLimitAreRefusedUnread) {
    EXPECT_EQ(import_row_limit(0).rows, 5000u);
    EXPECT_EQ(import_row_limit(3).rows, 15000u);
    EXPECT_EQ(import_row_limit(200).rows, kMaxImportRows);
    EXPECT_EQ(import_row_limit(100000).rows, kMaxImportRows);

    // Three rows fit a limit of three; a fourth is refused before its
    // broken quote is read.
    const std::string three = kHeader + "\nx\n\n00100001,123456,123456,1,2,,,,,,,,,\nx\n";
    RowErrors errors;
    EXPECT_EQ(parse_card_csv(three, errors, RowLimit{3, "three"}).size(), 1u);
    EXPECT_EQ(errors.rows(), 2u);
    try {
        RowErrors more;
        parse_card_csv(three + "\"", more, RowLimit{3, "three"});
        FAIL() << "a fourth row was taken";
    } catch (const RowsRefused&) {
        FAIL() << "the fourth row was read";
    } catch (const Refused& refused) {
        EXPECT_STREQ(refused.what(),
                     "more than 3 rows: one import takes at most 3 (three); row 4 is on line 6");
    }
}

TEST(CardCsv, RefusesAWrongHeader) {
    const std::vector<RowError> errors = refusals_of("card,serial,pin\n00100001,123456,123456\n");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].line, 1);
    EXPECT_EQ(errors[0].column, "password");
    EXPECT_EQ(refusals_of("").at(0).line, 1);
}

TEST(CardDayText, StoredForm) {
    const std::vector<std::pair<std::string, std::string>> taken = {
        {"", ""},
        {"0800-1200-01;1300-1730-01;", "0800-1200-01;1300-1730-01;"},
        {"0800/1200/1", "0800-1200-01;"},
        {"0800,1200:7;1300-1400-255", "0800-1200-07;1300-1400-255;"},
        {"0000-2359-0,", "0000-2359-00;"},
    };
    for (const auto& [text, stored] : taken) {
        std::string normal;
        std::string reason;
        EXPECT_TRUE(normal_day_text(text, normal, reason)) << text << ": " << reason;
        EXPECT_EQ(normal, stored) << text;
    }
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"0800-1200", "range 1: the tag is missing"},
        {"0800-1200-", "range 1: the tag is missing"},
        {"0800-1200-1;x", "range 2: x is not a clock time (hhmm)"},
        {"0800-1200-1;;", "range 2: the start time is missing"},
        {"800-1200-1", "range 1: 800 is not a clock time (hhmm)"},
        {"0800-1200-1x", "range 1: 1x is not a tag (0 to 255)"},
        {"0800-0800-1", "range 1: start 0800 is not before end 0800"},
        {"0800-1200-1234", "range 1: 1234 is not a tag (0 to 255)"},
    };
    for (const auto& [text, expected] : refused) {
        std::string normal;
        std::string reason;
        EXPECT_FALSE(normal_day_text(text, normal, reason)) << text;
        EXPECT_EQ(reason, expected) << text;
    }
}

// Cards from number `from` on, each to the given controllers.
std::vector<CardRow> card_rows(int from, int count, std::vector<std::string> controllers) {
    std::vector<CardRow> rows;
    for (int i = 0; i < count; ++i) {
        CardRow row;
        row.line = i + 2;
        row.card = card_of("001" + std::to_string(10000 + from + i));
        row.card.controllers = controllers;
        rows.push_back(row);
    }
    return rows;
}

std::vector<RowError> fleet_refusals(const std::vector<CardRow>& incoming, const std::vector<Card>& existing,
                                     bool replace) {
    const std::vector<Controller> fleet = {{"a", "", "", 1}, {"b", "", "", 2}, {"c", "", "", 3}};
    try {
        check_fleet_rules(incoming, existing, replace, fleet);
    } catch (const RowsRefused& refused) {
        return refused.rows();
    }
    return {};
}

TEST(CardFleetRules, UnknownControllerIsNamed) {
    std::vector<CardRow> incoming = card_rows(0, 3, {"a"});
    incoming[1].card.controllers = {"b", "x", "x"};
    const std::vector<RowError> errors = fleet_refusals(incoming, {}, false);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].line, 3);
    EXPECT_EQ(errors[0].column, "controllers");
    EXPECT_EQ(errors[0].reason, "no controller named x");
}

TEST(CardFleetRules, AtMost5000CardsPerController) {
    // 4,000 stored cards for every controller and 1,000 for a alone: a is full.
    std::vector<Card> existing = cards_of(card_rows(0, 4000, {}));
    for (const CardRow& row : card_rows(4000, 1000, {"a", "a"})) existing.push_back(row.card);

    // One more card for a (after one for b) is refused on its line; b is not.
    std::vector<CardRow> incoming = card_rows(5000, 2, {"b"});
    incoming[1].card.controllers = {"c", "a"};
    std::vector<RowError> errors = fleet_refusals(incoming, existing, false);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].line, 3);
    EXPECT_EQ(errors[0].reason, "controller a would hold 5001 cards; at most 5000");

    // The same cards in place of the stored ones, or as updates of them, fit.
    EXPECT_TRUE(fleet_refusals(incoming, existing, true).empty());
    std::vector<CardRow> updates = card_rows(4998, 2, {"c", "a"});
    EXPECT_TRUE(fleet_refusals(updates, existing, false).empty());

    // Cards for every controller fill each of them: the 5001st row is named.
    errors = fleet_refusals(card_rows(0, 5003, {}), {}, true);
    ASSERT_EQ(errors.size(), 3u);
    for (const RowError& error : errors) {
        EXPECT_EQ(error.line, 5002);
        EXPECT_NE(error.reason.find("would hold 5003 cards"), std::string::npos) << error.reason;
    }
}

}  // namespace
}  // namespace doorlinkd
