// The people file and the text forms of a policy's values: people read
// back as they were written, every bad row named by line and column with
// nothing taken, and the same rules for a person's fields wherever the
// person is made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "policy/people_csv.h"
#include "policy/policy_text.h"
#include "policy/problems.h"

namespace doorlinkd::people_csv_test {
namespace {

const std::string kHeader = "id,name,email,active,valid_from,valid_until,groups,cards\n";

void expect_same_columns(const Person& read, const Person& written) {
    EXPECT_EQ(read.id, written.id);
    EXPECT_EQ(read.name, written.name);
    EXPECT_EQ(read.email, written.email);
    EXPECT_EQ(read.active, written.active);
    EXPECT_EQ(read.validFrom, written.validFrom);
    EXPECT_EQ(read.validUntil, written.validUntil);
    EXPECT_EQ(read.groups, written.groups);
    ASSERT_EQ(read.cards.size(), written.cards.size());
    for (size_t i = 0; i < read.cards.size(); ++i) {
        EXPECT_EQ(read.cards[i].card, written.cards[i].card);
        EXPECT_EQ(read.cards[i].serial, written.cards[i].serial);
        EXPECT_EQ(read.cards[i].password, written.cards[i].password);
    }
}

// The (line, column) of each refusal, and whether any reason shows text.
struct Refusal {
    std::vector<std::pair<int, std::string>> places;
    std::string reasons;
    size_t moreRows = 0;
};

Refusal refusal_of(const std::string& text) {
    Refusal refusal;
    try {
        parse_people_csv(text);
        ADD_FAILURE() << "the file was taken";
    } catch (const RowsRefused& refused) {
        for (const RowError& row : refused.rows()) {
            refusal.places.emplace_back(row.line, row.column);
            refusal.reasons += row.reason + "\n";
        }
        refusal.moreRows = refused.more_rows();
    }
    return refusal;
}

using Places = std::vector<std::pair<int, std::string>>;

TEST(PeopleCsv, EveryColumnAndNoneOfTheOptionalOnesReadBackAsWritten) {
    Person full;
    full.id = "E-0042";
    full.name = "Lee, Ann \"Annie\"";
    full.email = "ann.lee@example.org";
    full.active = false;
    full.validFrom = CalendarDate{2026, 1, 1};
    full.validUntil = CalendarDate{2026, 12, 31};
    full.groups = {"staff", "night-shift"};
    full.cards = {{"00100001", "123456", "654321"}, {"00200002", "000001", "000002"}};
    Person bare;
    bare.id = "7";
    bare.name = "Bo";

    const std::string text = write_people_csv({full, bare});
    EXPECT_EQ(text, kHeader +
                        "E-0042,\"Lee, Ann \"\"Annie\"\"\",ann.lee@example.org,false,2026-01-01,2026-12-31,"
                        "staff night-shift,00100001:123456:654321 00200002:000001:000002\n"
                        "7,Bo,,true,,,,\n");
    const std::vector<PersonRow> rows = parse_people_csv(text);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0].line, 2);
    expect_same_columns(rows[0].person, full);
    EXPECT_EQ(rows[1].line, 3);
    expect_same_columns(rows[1].person, bare);
}

TEST(PeopleCsv, EveryBadRowIsNamedByLineAndColumnAndNothingIsTaken) {
    const std::string text = kHeader +
                             "ok,Good,,,,,,\n"                                         // 2
                             "a b,Space In Id,,,,,,\n"                                 // 3
                             "c,,two@@ats,maybe,,,,\n"                                 // 4
                             "d,Dates,,yes,2026-02-30,2026-1-01,,\n"                   // 5
                             "e,Backwards,,no,2026-03-01,2026-02-28,,\n"               // 6
                             "f,Cards,,1,,,,00100001:123456 00100002:123456:987654\n"  // 7
                             "g,Short,,\n"                                             // 8
                             "h,\"Line\nBreak\",,,,,,\n"                               // 9 (to 10)
                             "i,Quote,\"open,,,,,,\n";                                 // 11
    const Refusal refusal = refusal_of(text);
    EXPECT_EQ(refusal.places, (Places{{3, "id"},
                                      {4, "name"},
                                      {4, "email"},
                                      {4, "active"},
                                      {5, "valid_from"},
                                      {5, "valid_until"},
                                      {6, "valid_until"},
                                      {7, "cards"},
                                      {8, "valid_from"},
                                      {9, "name"},
                                      {11, "email"}}))
        << refusal.reasons;
    EXPECT_EQ(refusal.reasons.find("987654"), std::string::npos) << "a PIN is shown: " << refusal.reasons;
}

TEST(PeopleCsv, TheFirstHundredBadRowsAreListedTheRestCountedAndRowsPastTheLimitRefused) {
    std::string text = kHeader;
    for (int i = 0; i < 150; ++i) text += "p" + std::to_string(i) + ",Name,,perhaps,,,,\n";
    const Refusal refusal = refusal_of(text);
    ASSERT_EQ(refusal.places.size(), 100U);
    EXPECT_EQ(refusal.places.front(), std::make_pair(2, std::string("active")));
    EXPECT_EQ(refusal.places.back(), std::make_pair(101, std::string("active")));
    EXPECT_EQ(refusal.moreRows, 50U);

    RowErrors errors;
    EXPECT_THROW(parse_people_csv(text, errors, RowLimit{149, "a test's limit"}), Refused);
}

TEST(PeopleCsv, AnIdOrACardNumberTwiceIsRefusedOnTheLaterLine) {
    const std::string text = kHeader +
                             "a,Ann,,,,,,00100001:111111:111111\n"
                             "b,Bo,,,,,,00100002:222222:222222 00100001:222222:222222\n"
                             "a,Again,,,,,,\n"
                             "c,Cy,,,,,,00100003:333333:333333 00100003:333333:333333\n";
    RowErrors errors;
    const std::vector<PersonRow> good = parse_people_csv(text, errors);
    ASSERT_EQ(good.size(), 1U);
    EXPECT_EQ(good[0].person.id, "a");
    ASSERT_EQ(errors.listed().size(), 3U);
    EXPECT_EQ(errors.listed()[0].line, 3);
    EXPECT_EQ(errors.listed()[0].reason, "card 00100001 is already on line 2");
    EXPECT_EQ(errors.listed()[1].line, 4);
    EXPECT_EQ(errors.listed()[1].reason, "id a is already on line 2");
    EXPECT_EQ(errors.listed()[2].line, 5);
    EXPECT_EQ(errors.listed()[2].reason, "card 00100003 is twice on this line");
}

TEST(PeopleCsv, ABadHeaderIsRefusedOnLineOne) {
    const Refusal refusal = refusal_of("id,name,email,active,valid_from,valid_until,cards,groups\n");
    EXPECT_EQ(refusal.places, (Places{{1, "groups"}})) << refusal.reasons;
}

TEST(PolicyText, RangesEndUpTo2400AtMostEightADayEachStartingBeforeItEnds) {
    std::string reason;
    const auto ranges = parse_ranges("13:00-24:00,00:00-07:30", reason);
    ASSERT_TRUE(ranges) << reason;
    EXPECT_EQ(*ranges, (std::vector<TimeRange>{{780, 1440}, {0, 450}}));
    EXPECT_EQ(ranges_text(*ranges), "13:00-24:00,00:00-07:30");
    EXPECT_EQ(parse_ranges("", reason), std::vector<TimeRange>{});

    std::string eight;
    for (int hour = 10; hour < 18; ++hour) {
        eight += (eight.empty() ? "" : ",") + std::to_string(hour) + ":00-" + std::to_string(hour) + ":30";
    }
    ASSERT_TRUE(parse_ranges(eight, reason)) << reason;
    EXPECT_FALSE(parse_ranges(eight + ",20:00-21:00", reason));
    EXPECT_EQ(reason, "more than 8 ranges");
    EXPECT_FALSE(parse_ranges("07:00-12:00,19:00-13:00", reason));
    EXPECT_EQ(reason, "range 2: 19:00 is not before 13:00");
    for (const char* bad : {"24:00-24:00", "08:00-08:00", "08:00-24:01", "8:00-09:00", "08:00-12:00,"}) {
        EXPECT_FALSE(parse_ranges(bad, reason)) << bad;
    }
}

TEST(PolicyText, GrantsOfEitherKindReadBackAsWritten) {
    std::string reason;
    const auto site = parse_grant("office-hours@site:hq", reason);
    ASSERT_TRUE(site) << reason;
    EXPECT_EQ(site->schedule, "office-hours");
    EXPECT_EQ(site->site, "hq");
    EXPECT_TRUE(site->controllers.empty());
    EXPECT_EQ(grant_text(*site), "office-hours@site:hq");

    const auto named = parse_grant("always@controllers:hq-door1,ny-door1", reason);
    ASSERT_TRUE(named) << reason;
    EXPECT_EQ(named->schedule, "always");
    EXPECT_EQ(named->controllers, (std::vector<std::string>{"hq-door1", "ny-door1"}));
    EXPECT_EQ(grant_text(*named), "always@controllers:hq-door1,ny-door1");

    for (const char* bad :
         {"always", "always@hq", "@site:hq", "always@site:", "always@controllers:a,,b", "on call@site:hq"}) {
        EXPECT_FALSE(parse_grant(bad, reason)) << bad;
    }
}

TEST(PolicyText, DatesAndFlagsAsPeopleWriteThem) {
    std::string reason;
    EXPECT_EQ(parse_date("2024-02-29", reason), (CalendarDate{2024, 2, 29}));
    for (const char* bad : {"2025-02-29", "2025-2-01", "2025-02-01 ", "0000-01-01", "2025/02/01"}) {
        EXPECT_FALSE(parse_date(bad, reason)) << bad;
    }
    EXPECT_EQ(parse_flag("YES", false, reason), true);
    EXPECT_EQ(parse_flag("0", true, reason), false);
    EXPECT_EQ(parse_flag("", true, reason), true);
    EXPECT_FALSE(parse_flag("y", true, reason));
}

TEST(PolicyProblems, APersonMadeAnyWayPassesTheRulesOfThePeopleFile) {
    Person person;
    person.id = "E 1";
    person.name = std::string(201, 'n');
    person.email = "nobody";
    person.notes = "first line\r\nsecond\tline";
    Policy policy;
    policy.people = {person};
    std::vector<std::string> messages;
    for (const PolicyProblem& problem : policy_problems(policy, {}, 0)) messages.push_back(problem.message);
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "person E 1: the id is not printable ASCII without spaces and commas",
                            "person E 1: the name is 201 bytes; at most 200",
                            "person E 1: the email is not an address with one '@' between text",
                            "person E 1: the notes holds a control character other than a line break",
                        }));

    policy.people[0] = Person{};
    policy.people[0].id = "E1";
    policy.people[0].name = "Ann";
    policy.people[0].notes = "first line\r\nsecond line";
    EXPECT_TRUE(policy_problems(policy, {}, 0).empty());

    // A byte that is no UTF-8 would reach PostgreSQL, which refuses it.
    policy.people[0].name = "Ann\xff";
    policy.people[0].notes = "caf\xc3";
    messages.clear();
    for (const PolicyProblem& problem : policy_problems(policy, {}, 0)) messages.push_back(problem.message);
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "person E1: the name holds a control character, a line break or no UTF-8",
                            "person E1: the notes is no UTF-8",
                        }));
}

// Names that the text forms could not write back are refused.
TEST(PolicyProblems, SchedulesAndGroupsHaveNamesTheTextFormsWrite) {
    Policy policy;
    policy.schedules = {AccessSchedule{"late@hq", {}, HolidayMode::closed}};
    policy.groups = {Group{"night shift", {}}};
    std::vector<std::string> messages;
    for (const PolicyProblem& problem : policy_problems(policy, {}, 0)) messages.push_back(problem.message);
    EXPECT_EQ(messages, (std::vector<std::string>{"schedule late@hq: the name is not 1 to 64 bytes of UTF-8 "
                                                  "without white space and '@', or is built in or taken",
                                                  "group night shift: the name is not 1 to 64 bytes of UTF-8 "
                                                  "without white space and '@', or is taken"}));
}

}  // namespace
}  // namespace doorlinkd::people_csv_test
