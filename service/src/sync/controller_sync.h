// The sync of one controller once its lease is held and a list number lent:
// read back and compare; unless only checking, write and download its list,
// then read back and compare again. Replacing downloads at once.
#pragma once

#include <vector>

#include "library/data_dir.h"
#include "model/card.h"
#include "model/controller.h"
#include "model/sync_result.h"
#include "sync/controller_list.h"

namespace doorlinkd {

// InStep, Repaired, Drift (with the rows that remain), or Unreachable with a
// message that names the step that failed. What beforeExport throws (a lost
// lease) and StoreError pass through. The list and read-back files of the
// list number are gone when it returns or throws.
enum class ListWork { check, repair, replace };
SyncResult sync_controller(const Controller& controller, const std::vector<Card>& cards,
                           const DataDir& dataDir, int list, ListWork work, const BeforeExport& beforeExport);

}  // namespace doorlinkd
