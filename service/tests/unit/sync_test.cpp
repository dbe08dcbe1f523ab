// How a controller's list differs from the cards that go to it.
#include <gtest/gtest.h>

#include "sync/sync.h"

namespace doorlinkd {
namespace {

Card card(const std::string& text, std::vector<std::string> controllers = {}) {
    Card c;
    c.card = text;
    c.serial = "123456";
    c.password = "000001";
    c.days[1] = "0800-1200-01;";
    c.controllers = std::move(controllers);
    return c;
}

template <typename Change>
Card changed(Card c, Change change) {
    change(c);
    return c;
}

// A drift row as "card field database controller", "-" for no value.
std::vector<std::string> rows(const std::vector<Drift>& drift) {
    std::vector<std::string> texts;
    for (const Drift& d : drift) {
        texts.push_back(d.card + " " + d.field + " " + d.database.value_or("-") + " " +
                        d.controller.value_or("-"));
    }
    return texts;
}

TEST(CompareCards, Cases) {
    const Card a = card("00100001"), b = card("00100002"), c = card("00200001");
    const Card aFurther = changed(a, [](Card& x) { x.extraCards = {"00300001", "00300002"}; });
    struct Case {
        const char* name;
        std::vector<Card> database, held;
        bool longRecords;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"both empty", {}, {}, false, {}},
        {"in step, whatever the controllers column says",
         {a, b},
         {changed(a, [](Card& x) { x.controllers = {"x"}; }), b},
         false,
         {}},
        {"missing and extra",
         {a, b},
         {a, c},
         false,
         {"00100002 card 00100002 -", "00200001 card - 00200001"}},
        {"fields in column order",
         {a},
         {changed(a,
                  [](Card& x) {
                      x.password = "999999";
                      x.userStyle = 0;
                      x.days[1] = "";
                      x.days[3] = "0000-2359-02;";
                  })},
         false,
         {"00100001 password 000001 999999", "00100001 user_style 1 0", "00100001 monday 0800-1200-01; ",
          "00100001 wednesday  0000-2359-02;"}},
        {"further cards ignored on short records", {aFurther}, {a}, false, {}},
        {"further cards compared on long records",
         {aFurther},
         {changed(a, [](Card& x) { x.extraCards = {"00300001"}; })},
         true,
         {"00100001 extra_cards 00300001 00300002 00300001"}},
        {"held twice, and an extra card held twice",
         {a},
         {a, a, c, c, c},
         false,
         {"00100001 card 00100001 held 2 times", "00200001 card - held 3 times"}},
        {"out of card order", {a, b, c}, {a, c, b}, false, {"00100002 card 00100002 out of card order"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(rows(compare_cards(test.database, test.held, test.longRecords)), test.expected);
    }
}

}  // namespace
}  // namespace doorlinkd
