// The card rows' SQL, for the parts of the store that read or change them.
// A card row is kept in cards, and each of its versions in card_versions
// (since, until: the policy revisions it stood from and until). The
// controllers a row names are rows of card_controllers (of
// card_version_controllers for a version), in their order (seq); a row that
// names none goes to every controller and is marked every_controller, so
// that the cards of one controller are found by an index, whichever they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/card.h"

namespace doorlinkd {

class Tx;

// The card rows, in card order.
std::vector<Card> card_rows(Tx& tx);
// The card rows as they were at the policy revision, in card order: every
// write of card rows keeps the version it replaces.
std::vector<Card> card_rows_at(Tx& tx, int64_t revision);
// The card rows that went to the controller at the policy revision (those
// that name it, and those for every controller), in card order.
std::vector<Card> controller_card_rows_at(Tx& tx, const std::string& controller, int64_t revision);

// Takes the controller's name out of the card rows that name it among
// others, as the revision after locked (lock_policy_revision), unless some
// name it alone: then nothing changes and those are returned, in card order.
std::vector<std::string> drop_controller_from_cards(Tx& tx, const std::string& controller, int64_t locked);

// The upgrade of a schema whose card rows kept their controllers as a text
// of names separated by spaces (the column controllers of cards and of
// card_versions): each name becomes a row, in its order, the rows that name
// none are marked every_controller, and the texts are dropped.
void move_card_controllers_to_rows(Tx& tx);

}  // namespace doorlinkd
