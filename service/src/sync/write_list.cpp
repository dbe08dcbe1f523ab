// Writing a controller's card list: the records from arguments into the list
// file (no whole-list conversion, so no pauses between its parts), then one
// download.
#include "library/doorlink_library.h"
#include "model/errors.h"
#include "sync/controller_list.h"

namespace doorlinkd {

void write_controller_list(const Controller& controller, const std::vector<Card>& cards, int list,
                           const BeforeExport& beforeExport) {
    for (size_t i = 0; i < cards.size(); ++i) {
        beforeExport();
        if (!library::write_list_record(cards[i], controller.longRecords, list, i > 0)) {
            throw StoreError("card " + cards[i].card + " could not be written into list file " +
                             std::to_string(list));
        }
    }
    beforeExport();
    if (!library::download_list(controller, static_cast<int>(cards.size()), list)) {
        throw StepFailed("the download of the card list failed");
    }
}

}  // namespace doorlinkd
