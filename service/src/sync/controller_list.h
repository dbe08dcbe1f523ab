// A controller's card list through the library's exports, in the files of
// one list number that the caller has to itself. Before every export call
// beforeExport runs (the lease check); what it throws passes through, and
// nothing more is sent to the controller.
#pragma once

#include <functional>
#include <stdexcept>
#include <vector>

#include "library/data_dir.h"
#include "model/card.h"
#include "model/controller.h"

namespace doorlinkd {

// An exchange with the controller that failed; what() says which.
class StepFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using BeforeExport = std::function<void()>;

// The cards the controller holds, in its order: LookDoorName, NameToini,
// and as many cards as the controller's total in eqminfo.ini says (the
// read-back file always holds record 0, also from an empty controller).
// Throws StepFailed when the read-back fails or contradicts itself, and
// StoreError when the library's files cannot be turned into cards.
std::vector<Card> read_controller_list(const Controller& controller, const DataDir& dataDir, int list,
                                       const BeforeExport& beforeExport);

// Writes the cards into the list file and downloads them: the controller's
// list becomes exactly these cards (no cards: only the count announcement,
// which empties it). Throws StepFailed when the download fails, StoreError
// when the list file cannot be written.
void write_controller_list(const Controller& controller, const std::vector<Card>& cards, int list,
                           const BeforeExport& beforeExport);

}  // namespace doorlinkd
