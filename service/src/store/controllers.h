// The controllers and the cards they hold, and the numbers of controllers
// removed (retired: a new controller takes one only when told to).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/card.h"
#include "model/controller.h"
#include "model/pages.h"

namespace doorlinkd {

class Database;

class ControllerStore {
public:
    virtual ~ControllerStore() = default;

    // Controllers, in name order.
    virtual std::vector<Controller> controllers() = 0;
    virtual std::optional<Controller> controller(const std::string& name) = 0;
    // Refused when the name or the number is taken, the site unknown
    // (NotFound), or when the number is
    // retired, unless reuseRetiredNumber: then the number is taken and
    // leaves the retired numbers.
    virtual void add_controller(const Controller& controller, bool reuseRetiredNumber) = 0;
    void add_controller(const Controller& controller) { add_controller(controller, false); }
    // Removes the controller and its name from the cards that name it
    // among others (a change of card rows, saved as the next policy
    // revision), and retires its number. While cards name only this
    // controller nothing changes and those cards are returned (in card
    // order). Refused when unknown.
    virtual std::vector<std::string> remove_controller(const std::string& name) = 0;
    // NotFound when unknown.
    virtual void set_lossy(const std::string& name, bool lossy) = 0;
    // In number order.
    virtual std::vector<RetiredNumber> retired_numbers() = 0;

    // Cards, in card order.
    virtual std::vector<Card> cards() = 0;
    virtual std::optional<Card> card(const std::string& card) = 0;
    // The card rows that went to the controller at the policy revision (0
    // to the current one; none before the schema kept their versions): those
    // that name it and those for every controller, in card order. Only
    // these are read, whatever the number of cards of other controllers.
    virtual std::vector<Card> controller_cards_at(const std::string& controller, int64_t revision) = 0;
    // Adds or updates the given cards; with replaceAll the given cards
    // become the whole set. The caller has checked them. Card rows stand
    // beside the policy: each write of them moves the policy revision.
    virtual void put_cards(const std::vector<Card>& cards, bool replaceAll) = 0;
    // False when the card was not there.
    virtual bool remove_card(const std::string& card) = 0;
    // A page of the cards, in card order, whose card number, serial or
    // controllers contain `search` (empty: all); total counts every match.
    virtual Page<Card> cards_page(const std::string& search, int offset, int limit) = 0;
};

class SqlControllers : public virtual ControllerStore {
public:
    explicit SqlControllers(Database& database) : db_(database) {}

    std::vector<Controller> controllers() override;
    std::optional<Controller> controller(const std::string& name) override;
    void add_controller(const Controller& controller, bool reuseRetiredNumber) override;
    std::vector<std::string> remove_controller(const std::string& name) override;
    void set_lossy(const std::string& name, bool lossy) override;
    std::vector<RetiredNumber> retired_numbers() override;
    std::vector<Card> cards() override;
    std::optional<Card> card(const std::string& card) override;
    std::vector<Card> controller_cards_at(const std::string& controller, int64_t revision) override;
    void put_cards(const std::vector<Card>& cards, bool replaceAll) override;
    bool remove_card(const std::string& card) override;
    Page<Card> cards_page(const std::string& search, int offset, int limit) override;

private:
    Database& db_;
};

}  // namespace doorlinkd
