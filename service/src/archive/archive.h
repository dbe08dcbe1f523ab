// Archive: every record and photo a controller stores enters the database
// exactly once. The library's files of a retrieval (its retrieval record
// file in cardinfo/ and its photos in pic/) are the journal: they are
// imported in one transaction and removed only after the commit, so a
// process killed at any moment loses nothing and stores nothing twice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "leases/lease_keeper.h"
#include "library/data_dir.h"
#include "model/archive_result.h"
#include "model/controller.h"
#include "model/record.h"
#include "store/store.h"

namespace doorlinkd {

// The journal of one controller as its files stand: its records with their
// photos, in file order, and the files to remove once they are committed
// (the retrieval record files, the photos they name, and temporary photo
// files of a retrieval cut short, which hold no record), photos first, so
// that a removal cut short leaves no photo that no line names. Lines that
// cannot be read, photos that are missing or unreadable are skipped, each
// with a note.
struct Journal {
    std::vector<IncomingRecord> records;
    std::vector<std::string> files;
    std::vector<std::string> notes;
};
Journal read_journal(const DataDir& dataDir, const Controller& controller);

// Imports what the journal of every controller of the store holds (files
// left by a process that died), and of every retired number, under the
// controller that had it; then removes those files. Returns what was
// stored. Only while no retrieval runs on this data directory: a
// retrieval's files are read and removed while it writes them.
ImportCounts import_journals(Store& store, const DataDir& dataDir);

// Archives the controllers in parallel (at most `parallel` at once), each
// under its lease; returns the results in the order of `controllers`. Each
// controller's journal left by a process that died is imported first, then
// one retrieval runs and its journal is imported. Before them, the journals
// of retired numbers are imported under the controllers that had them (no
// retrieval writes those: two runs of one data directory never overlap). A controller whose lease
// another owner holds, or whose lease is lost on the way, is Busy: it is not
// ours to drive now, and its files stay for whoever drives it next. One that
// fails to answer is Unreachable, with what it delivered before stored. Each
// controller's result is stored with `run` (begun with begin_archive_run) as
// it finishes. A StoreError stops the run and is thrown once every thread
// has ended.
std::vector<ArchiveResult> archive_controllers(Store& store, LeaseKeeper& leases, const DataDir& dataDir,
                                               const std::vector<Controller>& controllers, int parallel,
                                               int64_t run);

}  // namespace doorlinkd
