// The controllers of card rows kept as rows: the cards of one controller
// read alone, at any revision, and the texts of an older database moved
// there exactly. On both backends.
#include <gtest/gtest.h>

#include <algorithm>

#include "store/store.h"
#include "unit/old_schema.h"
#include "unit/sample_card.h"
#include "unit/store_on_each_backend.h"

namespace doorlinkd {
namespace {

std::vector<std::string> numbers_of(const std::vector<Card>& cards) {
    std::vector<std::string> numbers;
    for (const Card& card : cards) numbers.push_back(card.card);
    return numbers;
}

// The card rows of the whole policy at the revision that go to controller,
// as a caller found them before the rows were read per controller.
std::vector<Card> going_to(Store& store, const std::string& controller, int64_t revision) {
    std::vector<Card> rows = store.policy_at(revision).policy.cards;
    rows.erase(
        std::remove_if(rows.begin(), rows.end(), [&](const Card& row) { return !goes_to(row, controller); }),
        rows.end());
    return rows;
}

using Names = std::vector<std::string>;
using test::make_card;

class CardRowsTest : public test::StoreOnEachBackend {};

TEST_P(CardRowsTest, AControllerReadsTheRowsNamingItAndThoseForEveryControllerAtEachRevision) {
    store_->put_cards(
        {make_card("00100001", {}), make_card("00100002", {"east"}), make_card("00100003", {"west", "east"}),
         make_card("00100004", {"west"}), make_card("00100005", {"east", "east"})},
        false);
    const int64_t first = store_->policy_revision();
    EXPECT_EQ(numbers_of(store_->controller_cards_at("east", first)),
              (Names{"00100001", "00100002", "00100003", "00100005"}));
    EXPECT_EQ(numbers_of(store_->controller_cards_at("north", first)), Names{"00100001"});
    // Whole rows, with every controller they name, in its order.
    EXPECT_EQ(store_->controller_cards_at("west", first), going_to(*store_, "west", first));

    store_->put_cards({make_card("00100001", {"east"}), make_card("00100002", {"west"})}, false);
    store_->remove_card("00100003");
    const int64_t now = store_->policy_revision();
    EXPECT_EQ(numbers_of(store_->controller_cards_at("east", now)), (Names{"00100001", "00100005"}));
    EXPECT_TRUE(store_->controller_cards_at("north", now).empty());
    for (const char* controller : {"east", "west", "north"}) {
        EXPECT_EQ(store_->controller_cards_at(controller, first), going_to(*store_, controller, first));
        EXPECT_EQ(store_->controller_cards_at(controller, now), going_to(*store_, controller, now));
    }
    // The cards as listed: the controllers joined by spaces in their order.
    EXPECT_EQ(numbers_of(store_->cards_page("west east", 0, 10).items), Names{});
    store_->put_cards({make_card("00100006", {"west", "east"})}, false);
    EXPECT_EQ(numbers_of(store_->cards_page("west east", 0, 10).items), Names{"00100006"});
    EXPECT_EQ(store_->cards_page("east", 0, 10).total, 3);
}

TEST_P(CardRowsTest, RemovingAControllerTakesItsNameOutOfTheRowsAndTheirNextVersion) {
    for (const char* name : {"east", "west"}) {
        Controller controller;
        controller.name = name;
        controller.address = "127.0.0.1";
        controller.mac = "001122334455";
        controller.number = name[0] == 'e' ? 1 : 2;
        store_->add_controller(controller);
    }
    store_->put_cards({make_card("00100001", {"east", "west", "east"}), make_card("00100002", {})}, false);
    const int64_t before = store_->policy_revision();
    EXPECT_TRUE(store_->remove_controller("east").empty());
    EXPECT_EQ(store_->card("00100001")->controllers, Names{"west"});
    EXPECT_EQ(store_->policy_revision(), before + 1);
    EXPECT_EQ(store_->policy_at(before).policy.cards.at(0).controllers, (Names{"east", "west", "east"}));
    EXPECT_EQ(numbers_of(store_->controller_cards_at("east", before + 1)), Names{"00100002"});
}

// What a schema 9 database kept as texts of names: of the card rows and of
// their versions, more than the upgrade converts in one statement.
TEST_P(CardRowsTest, ASchemaNineDatabaseKeepsEveryCardsControllersInTheirOrder) {
    test::TestDatabase old(GetParam());
    const std::vector<std::string> texts = {"", "west east", "east east", "west", "east  west"};
    const int count = 2100;
    const auto number = [](int i) { return "00" + std::to_string(100000 + i); };
    {
        auto connection = connector(old.location())();
        test::make_schema(*connection, 9);
        const std::string columns =
            "serial, password, user_style, open_style, sunday, monday, tuesday, wednesday, thursday, friday,"
            " saturday, extra_cards, controllers";
        const std::string values = "'123456', '654321', 1, 2, '', '', '', '', '', '', '', '00200001', ?";
        for (int first = 0; first < count; first += 300) {
            std::string rows;
            std::string versions;
            std::vector<Value> params;
            for (int i = first; i < std::min(count, first + 300); ++i) {
                rows += std::string(i == first ? "" : ", ") + "(?, " + values + ")";
                params.emplace_back(number(i));
                params.emplace_back(texts[static_cast<size_t>(i) % texts.size()]);
            }
            connection->execute("INSERT INTO cards (card, " + columns + ") VALUES " + rows, params);
            connection->execute("INSERT INTO card_versions (card, since, " + columns + ") SELECT card, 3, " +
                                    columns + " FROM cards WHERE card >= ? AND card < ?",
                                {number(first), number(first + 300)});
        }
        // An earlier version of a row, and a row removed since.
        connection->execute("UPDATE card_versions SET since = 2 WHERE card = ?", {number(1)});
        connection->execute("INSERT INTO card_versions (card, since, until, " + columns +
                                ") VALUES (?, 1, 2, " + values + "), (?, 1, 3, " + values + ")",
                            {number(1), "east", number(count), "west"});
        connection->execute("UPDATE policy_revision SET revision = 3");
    }
    auto store = Store::open(old.location());
    ASSERT_EQ(store->initialise(), kSchemaVersion);

    const std::vector<Card> cards = store->cards();
    ASSERT_EQ(cards.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const Card& card = cards[static_cast<size_t>(i)];
        ASSERT_EQ(card.card, number(i));
        ASSERT_EQ(card.controllers, split_words(texts[static_cast<size_t>(i) % texts.size()])) << card.card;
        ASSERT_EQ(card.extraCards, Names{"00200001"});
    }
    EXPECT_EQ(store->policy_at(3).policy.cards, cards);
    const std::vector<Card> then = store->policy_at(1).policy.cards;
    ASSERT_EQ(numbers_of(then), (Names{number(1), number(count)}));
    EXPECT_EQ(then[0].controllers, Names{"east"});
    EXPECT_EQ(then[1].controllers, Names{"west"});
    EXPECT_EQ(numbers_of(store->controller_cards_at("west", 1)), Names{number(count)});
    for (const char* controller : {"east", "west", "north"}) {
        EXPECT_EQ(store->controller_cards_at(controller, 3), going_to(*store, controller, 3));
    }
    // The texts are gone.
    EXPECT_THROW(connector(old.location())()->execute("SELECT controllers FROM cards"), DatabaseError);
    EXPECT_THROW(connector(old.location())()->execute("SELECT controllers FROM card_versions"),
                 DatabaseError);
}

INSTANTIATE_TEST_SUITE_P(Databases, CardRowsTest, ::testing::ValuesIn(test::backends()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace doorlinkd
