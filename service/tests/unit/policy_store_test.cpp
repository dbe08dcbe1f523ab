// People, groups, schedules and holidays saved through the operations the
// command line and the API share, on SQLite and on PostgreSQL (skipped,
// saying why, without DOORLINKD_TEST_POSTGRES).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "fleet/operations.h"
#include "fleet/policy_operations.h"
#include "store/store.h"
#include "unit/store_on_each_backend.h"
#include "unit/thrown_message.h"
#include "unit/utc_text.h"

namespace doorlinkd::policy_store {
namespace {

const Actor kOperator{"alice-token", "127.0.0.1"};

class PolicyStoreTest : public test::StoreOnEachBackend {
protected:
    PolicyStoreTest() : StoreOnEachBackend("Europe/Berlin") {}

    void SetUp() override {
        StoreOnEachBackend::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        store_->add_site(Site{"lisbon", "Europe/Lisbon", ""});
        add_controller("berlin-1", 1, "main");
        add_controller("lisbon-1", 2, "lisbon");
        schedule_add(*store_, office(), kOperator);
        group_add(*store_, GroupArgs{"staff", std::vector<std::string>{"office@site:main"}, {}}, kOperator);
    }

    void add_controller(const std::string& name, int number, const std::string& site) {
        Controller c;
        c.name = name;
        c.address = "127.0.0." + std::to_string(number + 1);
        c.mac = "00112233445" + std::to_string(number);
        c.number = number;
        c.site = site;
        store_->add_controller(c, false);
    }

    static ScheduleArgs office() {
        ScheduleArgs args;
        args.name = "office";
        for (size_t day = 1; day <= 5; ++day) args.days.at(day) = "07:00-19:00";
        return args;
    }

    static PersonArgs person(const std::string& id, const std::string& cards) {
        PersonArgs args;
        args.id = id;
        args.name = "Person " + id;
        args.groups = "staff";
        args.cards = cards;
        return args;
    }

    const Person& saved_person(const std::string& id) {
        policy_ = store_->policy();
        for (const Person& p : policy_.policy.people) {
            if (p.id == id) return p;
        }
        throw std::runtime_error("no person " + id);
    }

    std::string audit_text() {
        std::string text;
        for (const AuditEntry& entry : store_->audit_entries(0, 1000).items)
            text += entry.who + " " + entry.action + " " + entry.target + ": " + entry.detail + "\n";
        return text;
    }

    PolicyAt policy_;
};

TEST_P(PolicyStoreTest, ValuesRoundTripAndEveryChangeIsAuditedWithoutPins) {
    const int64_t before = store_->policy_revision();
    holiday_add(*store_, HolidayArgs{"lisbon", "2026-12-25", true, {}}, kOperator);
    PersonArgs alice = person("e100", "00100001:000001:123456 00100002:000002:654321");
    alice.email = "alice@example.org";
    alice.validUntil = "2026-12-31";
    const Outcome added = person_add(*store_, alice, kOperator);
    EXPECT_EQ(store_->policy_revision(), before + 2);
    EXPECT_EQ(added.json.dump().find("123456"), std::string::npos) << added.json.dump();

    const Person& saved = saved_person("e100");
    EXPECT_EQ(saved.name, "Person e100");
    EXPECT_EQ(saved.email, std::optional<std::string>("alice@example.org"));
    ASSERT_EQ(saved.cards.size(), 2U);
    EXPECT_EQ(saved.cards[1].password, "654321");
    EXPECT_EQ(saved.validUntil, (CalendarDate{2026, 12, 31}));
    EXPECT_EQ(saved.revision, before + 2);
    ASSERT_EQ(policy_.policy.holidays.size(), 1U);
    EXPECT_TRUE(policy_.policy.holidays[0].yearly);
    ASSERT_EQ(policy_.policy.schedules.size(), 1U);
    EXPECT_EQ(policy_.policy.schedules[0].days.at(1), (std::vector<TimeRange>{{420, 1140}}));

    PersonArgs change;
    change.id = "e100";
    change.cards = "00100001:000001:111111 00100002:000002:654321";
    change.groups = "";
    person_change(*store_, change, kOperator);
    const std::string audit = audit_text();
    EXPECT_NE(
        audit.find("alice-token person change e100: card 00100001 PIN changed; groups: staff -> (none)"),
        std::string::npos)
        << audit;
    for (const char* secret : {"123456", "654321", "111111", "alice@example.org", "Person e100"})
        EXPECT_EQ(audit.find(secret), std::string::npos) << secret << " in\n" << audit;
    EXPECT_EQ(person_list(*store_).json.dump().find("111111"), std::string::npos);
}

TEST_P(PolicyStoreTest, AChangeMadeOnAnOlderRevisionIsRefusedAsStale) {
    person_add(*store_, person("e1", ""), kOperator);
    const int64_t seen = saved_person("e1").revision;
    PersonArgs first;
    first.id = "e1";
    first.name = "First";
    first.revision = seen;
    person_change(*store_, first, kOperator);
    PersonArgs second = first;
    second.name = "Second";
    EXPECT_THROW(person_change(*store_, second, kOperator), Stale);
    EXPECT_THROW(person_remove(*store_, "e1", seen, kOperator), Stale);
    EXPECT_EQ(saved_person("e1").name, "First");
    EXPECT_THROW(person_add(*store_, person("e1", ""), kOperator), Refused);
}

TEST_P(PolicyStoreTest, AnEarlierRevisionIsReadAsItWasSaved) {
    person_add(*store_, person("e1", "00600001:000001:123456"), kOperator);
    const PolicyAt first = store_->policy();
    PersonArgs change;
    change.id = "e1";
    change.groups = "";
    change.cards = "";
    person_change(*store_, change, kOperator);
    group_change(*store_, GroupArgs{"staff", std::vector<std::string>{"office@site:lisbon"}, {}}, kOperator);
    person_add(*store_, person("e2", "00600001:000002:222222"), kOperator);  // the card changes hands

    const PolicyAt then = store_->policy_at(first.revision);
    ASSERT_EQ(then.policy.people.size(), 1U);
    EXPECT_EQ(then.policy.people[0].groups, std::vector<std::string>{"staff"});
    ASSERT_EQ(then.policy.people[0].cards.size(), 1U);
    EXPECT_EQ(then.policy.people[0].cards[0].serial, "000001");
    ASSERT_EQ(then.policy.groups.size(), 1U);
    EXPECT_EQ(then.policy.groups[0].grants.at(0).site, "main");
    EXPECT_EQ(store_->policy().policy.groups[0].grants.at(0).site, "lisbon");
    EXPECT_THROW(store_->policy_at(store_->policy_revision() + 1), NotFound);

    // An erasure takes the person out of every revision.
    person_erase(*store_, "e1", {}, kOperator);
    EXPECT_TRUE(store_->policy_at(first.revision).policy.people.empty());
}

// Each write of card rows is a revision, whose rows policy_at reads back
// after later writes.
TEST_P(PolicyStoreTest, AnEarlierRevisionHasTheCardRowsOfThen) {
    auto row = [](const std::string& number, const std::string& serial, std::vector<std::string> to) {
        Card card;
        card.card = number;
        card.serial = serial;
        card.password = "000001";
        card.controllers = std::move(to);
        return card;
    };
    auto rows_at = [&](int64_t revision) {
        std::string text;
        for (const Card& card : store_->policy_at(revision).policy.cards)
            text += card.card + ":" + card.serial + ":" + join_words(card.controllers) + " ";
        return text;
    };
    store_->put_cards({row("00700001", "000001", {}), row("00700002", "000002", {"berlin-1", "lisbon-1"})},
                      false);
    const int64_t put = store_->policy_revision();
    store_->put_cards({row("00700002", "000002", {"berlin-1", "lisbon-1"}), row("00700003", "000003", {})},
                      true);
    const int64_t replaced = store_->policy_revision();
    store_->put_cards({row("00700003", "000009", {})}, false);
    const int64_t changed = store_->policy_revision();
    EXPECT_TRUE(store_->remove_card("00700003"));
    const int64_t removed = store_->policy_revision();
    EXPECT_TRUE(store_->remove_controller("lisbon-1").empty());
    const int64_t controllerRemoved = store_->policy_revision();
    EXPECT_EQ(controllerRemoved, removed + 1);

    EXPECT_EQ(rows_at(put - 1), "");
    EXPECT_EQ(rows_at(put), "00700001:000001: 00700002:000002:berlin-1 lisbon-1 ");
    EXPECT_EQ(rows_at(replaced), "00700002:000002:berlin-1 lisbon-1 00700003:000003: ");
    EXPECT_EQ(rows_at(changed), "00700002:000002:berlin-1 lisbon-1 00700003:000009: ");
    EXPECT_EQ(rows_at(removed), "00700002:000002:berlin-1 lisbon-1 ");
    EXPECT_EQ(rows_at(controllerRemoved), "00700002:000002:berlin-1 ");
}

TEST_P(PolicyStoreTest, ACardNumberIsAPersonsOrARowsNeverBoth) {
    Card row;
    row.card = "00200001";
    row.serial = "000001";
    row.password = "000001";
    store_->put_cards({row}, false);
    EXPECT_NE(message_of([&] {
                  person_add(*store_, person("e1", "00200001:000001:123456"), kOperator);
              }).find("00200001"),
              std::string::npos);
    person_add(*store_, person("e2", "00200002:000001:123456"), kOperator);
    row.card = "00200002";
    EXPECT_THROW(store_->put_cards({row}, false), Refused);
    EXPECT_THROW(person_add(*store_, person("e3", "00200002:000009:123456"), kOperator), Refused);
}

TEST_P(PolicyStoreTest, CardRowsBesidePeopleCountTowardsAControllersFiveThousand) {
    person_add(*store_, person("e1", "00200001:000001:123456"), kOperator);
    std::string rows =
        "card,serial,password,user_style,open_style,sunday,monday,tuesday,wednesday,thursday,"
        "friday,saturday,extra_cards,controllers\n";
    for (int n = 0; n < kMaxCardsPerController; ++n) {
        rows += std::to_string(10000000 + n) + ",000001,000001,,,,,,,,,,,berlin-1\n";
    }
    EXPECT_NE(
        message_of([&] { card_import_text(*store_, rows, "", false); }).find("berlin-1 would hold 5001"),
        std::string::npos);
    EXPECT_TRUE(store_->cards().empty());
}

TEST_P(PolicyStoreTest, WhatIsInUseIsNotRemovedAndTheRefusalNamesItsUsers) {
    person_add(*store_, person("e1", ""), kOperator);
    person_add(*store_, person("e2", ""), kOperator);
    EXPECT_NE(message_of([&] { group_remove(*store_, "staff", {}, kOperator); }).find("e1, e2"),
              std::string::npos);
    EXPECT_NE(message_of([&] { schedule_remove(*store_, "office", {}, kOperator); }).find("staff"),
              std::string::npos);
    person_remove(*store_, "e1", {}, kOperator);
    person_remove(*store_, "e2", {}, kOperator);
    group_remove(*store_, "staff", {}, kOperator);
    schedule_remove(*store_, "office", {}, kOperator);
    EXPECT_TRUE(store_->policy().policy.schedules.empty());
}

TEST_P(PolicyStoreTest, ADayBeyondEightRangesOnAControllerIsRefusedBySaving) {
    ScheduleArgs split;
    split.name = "split";
    split.days.at(1) = "00:00-00:10,01:00-01:10,02:00-02:10,03:00-03:10,04:00-04:10";
    schedule_add(*store_, split, kOperator);
    ScheduleArgs late = split;
    late.name = "late";
    late.days.at(1) = "20:00-20:10,21:00-21:10,22:00-22:10,23:00-23:10";
    schedule_add(*store_, late, kOperator);
    group_add(*store_, GroupArgs{"a", std::vector<std::string>{"split@controllers:lisbon-1"}, {}}, kOperator);
    group_add(*store_, GroupArgs{"b", std::vector<std::string>{"late@site:lisbon"}, {}}, kOperator);
    PersonArgs bob = person("bob", "");
    bob.groups = "a b";
    const std::string refusal = message_of([&] { person_add(*store_, bob, kOperator); });
    for (const char* named : {"bob", "lisbon-1", "Monday"})
        EXPECT_NE(refusal.find(named), std::string::npos) << refusal;
    EXPECT_TRUE(store_->policy().policy.people.empty());
}

TEST_P(PolicyStoreTest, RecordsKeepWhoseCardItWasAndAnErasureLeavesTheCardNumber) {
    person_add(*store_, person("e1", "00300001:000001:123456"), kOperator);
    store_->import_records({{"berlin-1", "00300001", "20261208090000", 1, std::nullopt}});
    // The card changes hands: the first record stays the first holder's.
    PersonArgs handOver;
    handOver.id = "e1";
    handOver.cards = "";
    person_change(*store_, handOver, kOperator);
    person_add(*store_, person("e2", "00300001:000002:222222"), kOperator);
    store_->import_records({{"berlin-1", "00300001", "20261208100000", 1, std::nullopt}});
    auto records = store_->records(RecordQuery{});
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].person, std::optional<std::string>("e2"));
    EXPECT_EQ(records[1].person, std::optional<std::string>("e1"));

    person_erase(*store_, "e2", {}, kOperator);
    records = store_->records(RecordQuery{});
    EXPECT_EQ(records[0].card, "00300001");
    EXPECT_EQ(records[0].person, std::nullopt);
    EXPECT_TRUE(records[0].personErased);
    EXPECT_EQ(records[1].person, std::optional<std::string>("e1"));
    EXPECT_FALSE(records[1].personErased);
    const PolicyAt after = store_->policy();
    ASSERT_EQ(after.policy.people.size(), 1U);
    // Its card number is free again.
    person_add(*store_, person("e3", "00300001:000003:333333"), kOperator);
}

// The lookups the lists and reports make once per page: each card's newest
// record, who holds a card now, and people's names.
TEST_P(PolicyStoreTest, EachCardsNewestRecordAndWhoHoldsItAreFoundInOneCall) {
    person_add(*store_, person("e1", "00300001:000001:123456"), kOperator);
    store_->import_records({{"berlin-1", "00300001", "20261208100000", 1, std::nullopt},
                            {"berlin-1", "00300001", "20261208090000", 1, std::nullopt},
                            {"berlin-1", "00300002", "20261201080000", 1, std::nullopt}});
    const std::map<std::string, int64_t> last =
        store_->last_record_instants({"00300001", "00300002", "00300003"});
    EXPECT_EQ(last, (std::map<std::string, int64_t>{{"00300001", utc_ms("202612080900")},
                                                    {"00300002", utc_ms("202612010700")}}));

    const std::map<std::string, PersonName> holders = store_->card_holders({"00300001", "00300002"});
    ASSERT_EQ(holders.size(), 1U);
    EXPECT_EQ(holders.at("00300001").id, "e1");
    EXPECT_EQ(holders.at("00300001").name, "Person e1");
    EXPECT_EQ(store_->person_names({"e1", "e9"}), (std::map<std::string, std::string>{{"e1", "Person e1"}}));
}

// A card given without its PIN (as the API allows) keeps the one it has;
// a card new to the person is refused without one.
TEST_P(PolicyStoreTest, ACardGivenWithoutItsPinKeepsItAndANewCardNeedsOne) {
    person_add(*store_, person("e1", "00400001:000001:123456"), kOperator);
    PersonArgs change;
    change.id = "e1";
    change.cardList = std::vector<PersonCardArgs>{{"00400001", "000009", std::nullopt},
                                                  {"00400002", "000002", std::string("222222")}};
    const Outcome changed = person_change(*store_, change, kOperator);
    const Person& saved = saved_person("e1");
    ASSERT_EQ(saved.cards.size(), 2U);
    EXPECT_EQ(saved.cards[0].serial, "000009");
    EXPECT_EQ(saved.cards[0].password, "123456");
    EXPECT_EQ(saved.cards[1].password, "222222");
    EXPECT_EQ(changed.json.dump().find("123456"), std::string::npos);
    EXPECT_EQ(audit_text().find("00400001 PIN changed"), std::string::npos) << audit_text();

    change.cardList = std::vector<PersonCardArgs>{{"00400003", "000003", std::nullopt}};
    EXPECT_EQ(message_of([&] { person_change(*store_, change, kOperator); }),
              "card 00400003: a new card needs its PIN");
    EXPECT_EQ(saved_person("e1").cards.size(), 2U);
}

TEST_P(PolicyStoreTest, AnImportIsAllOrNothingAndNamesEachBadRow) {
    person_add(*store_, person("old", "00400009:000009:999999"), kOperator);
    const std::string header = "id,name,email,active,valid_from,valid_until,groups,cards\n";
    const std::string bad = header +
                            "e1,Ann,,true,,,staff,00400001:000001:123456\n"
                            "e2,Ben,,true,,,nosuch,00400002:000002:123456\n"
                            "e3,Cy,,maybe,,,staff,\n";
    try {
        person_import_text(*store_, bad, "people.csv", false, kOperator);
        FAIL() << "imported";
    } catch (const RowsRefused& refused) {
        std::vector<std::pair<int, std::string>> named;
        for (const RowError& row : refused.rows()) named.emplace_back(row.line, row.column);
        EXPECT_EQ(named, (std::vector<std::pair<int, std::string>>{{4, "active"}})) << refused.what();
    }
    // Each problem of the policy is named in the column that holds it.
    const std::string unknownGroup = header +
                                     "e1,Ann,,true,,,staff,00400001:000001:123456\n"
                                     "e2,Ben,,true,,,nosuch,00400002:000002:123456\n"
                                     "e4,Dan,,true,,,staff,0400004:000004:123456\n";
    try {
        person_import_text(*store_, unknownGroup, "people.csv", false, kOperator);
        FAIL() << "imported";
    } catch (const RowsRefused& refused) {
        std::vector<std::pair<int, std::string>> named;
        for (const RowError& row : refused.rows()) named.emplace_back(row.line, row.column);
        EXPECT_EQ(named, (std::vector<std::pair<int, std::string>>{{3, "groups"}, {4, "cards"}}))
            << refused.what();
    }
    EXPECT_EQ(store_->policy().policy.people.size(), 1U);

    const std::string good = header + "e1,Ann,,true,,,staff,00400001:000001:123456\n";
    const Outcome replaced = person_import_text(*store_, good, "people.csv", true, kOperator);
    EXPECT_EQ(replaced.json["added"], 1);
    EXPECT_EQ(replaced.json["removed"], 1);
    const PolicyAt after = store_->policy();
    ASSERT_EQ(after.policy.people.size(), 1U);
    EXPECT_EQ(after.policy.people[0].id, "e1");
    // The same file again changes nothing.
    EXPECT_EQ(person_import_text(*store_, good, "", true, kOperator).json["unchanged"], 1);
    EXPECT_EQ(store_->policy().revision, after.revision);
}

TEST_P(PolicyStoreTest, TheExportIsTheOwnersAloneAndImportsBackUnchanged) {
    PersonArgs ann = person("e1", "00500001:000001:123456");
    ann.validFrom = "2026-01-01";
    person_add(*store_, ann, kOperator);
    const std::string file = testing::TempDir() + "people-export-" + std::to_string(::getpid()) + ".csv";
    person_export(*store_, file);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600U);
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(file);
    EXPECT_NE(text.find("00500001:000001:123456"), std::string::npos) << text;
    EXPECT_EQ(person_import_text(*store_, text, "", true, kOperator).json["unchanged"], 1);
}

INSTANTIATE_TEST_SUITE_P(Databases, PolicyStoreTest, ::testing::ValuesIn(test::backends()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace doorlinkd::policy_store
