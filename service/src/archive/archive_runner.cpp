// The archive's run: per controller under its lease, the journal a process
// that died left, one retrieval, and its journal, each journal committed to
// the store before its files go.
#include <filesystem>
#include <iostream>
#include <iterator>
#include <mutex>

#include "archive/archive.h"
#include "common/parallel.h"
#include "library/doorlink_library.h"

namespace doorlinkd {
namespace {

template <class Counts>
void add(Counts& total, const ImportCounts& counts) {
    total.records += counts.records;
    total.photos += counts.photos;
}

// The files of journals already committed, to be removed. A run removes
// them when it ends, not after each journal: new files come slowly while
// many were just removed (the file system looks over recently freed inodes
// for each), and the retrievals still running create thousands.
class Removals {
public:
    Removals() = default;
    Removals(const Removals&) = delete;
    Removals& operator=(const Removals&) = delete;
    ~Removals() { remove_now(); }

    void add(std::vector<std::string> files) {
        std::lock_guard<std::mutex> lock(mutex_);
        files_.insert(files_.end(), std::make_move_iterator(files.begin()),
                      std::make_move_iterator(files.end()));
    }
    void remove_now() {
        std::vector<std::string> files;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            files.swap(files_);
        }
        std::error_code ignored;  // a file left is imported again, and stored once
        for (const std::string& file : files) (void)std::filesystem::remove(file, ignored);
    }

private:
    std::mutex mutex_;
    std::vector<std::string> files_;
};

// Imports one controller's journal in one transaction and only then hands
// its files to be removed: a process killed before the removal imports them
// again, which the store takes as already stored.
ImportCounts import_journal(Store& store, const DataDir& dataDir, const Controller& controller,
                            Removals& removals) {
    Journal journal = read_journal(dataDir, controller);
    for (const std::string& note : journal.notes) {
        std::cerr << "doorlinkd: " << controller.name << ": " << note << '\n';
    }
    ImportCounts counts;
    if (!journal.records.empty()) counts = store.import_records(journal.records);
    // The controller record file repeats the lines of every retrieval, which
    // the journal already brought; the service never reads it, and kept it
    // would only grow.
    journal.files.push_back(dataDir.controller_record_file(controller.number));
    removals.add(std::move(journal.files));
    return counts;
}

// Each retired number as the controller that had it, as far as its journal
// needs: its name, its number and whether its records came with photos.
std::vector<Controller> retired_owners(Store& store) {
    std::vector<Controller> owners;
    for (const RetiredNumber& retired : store.retired_numbers()) {
        Controller owner;
        owner.name = retired.controller;
        owner.number = retired.number;
        owner.photos = retired.photos;
        owners.push_back(owner);
    }
    return owners;
}

ImportCounts import_each_journal(Store& store, const DataDir& dataDir, const std::vector<Controller>& owners,
                                 Removals& removals) {
    ImportCounts total;
    for (const Controller& owner : owners) add(total, import_journal(store, dataDir, owner, removals));
    return total;
}

// One controller under its lease; the lease is checked before each export
// and before each import, since another owner may drive it once it is lost.
ArchiveResult archive_one(Store& store, LeaseKeeper& leases, const DataDir& dataDir,
                          const Controller& controller, Removals& removals) {
    ArchiveResult result;
    result.controller = controller.name;
    if (!leases.take(controller)) {
        result.status = ArchiveStatus::Busy;
        result.message = leases.held_elsewhere(controller);
        return result;
    }
    const HeldLease held(leases, controller.name);
    try {
        leases.check(controller.name);
        add(result, import_journal(store, dataDir, controller, removals));
        leases.check(controller.name);
        const uint32_t retrieval = library::retrieve_records(controller);
        leases.check(controller.name);
        add(result, import_journal(store, dataDir, controller, removals));
        if (retrieval == 0) {
            result.status = ArchiveStatus::Unreachable;
            result.message = "the retrieval from " + controller.address +
                             " failed (no answer, or one cut short); the records it delivered are stored";
        } else {
            result.status = ArchiveStatus::Done;
        }
    } catch (const LeaseLost& lost) {
        result.status = ArchiveStatus::Busy;
        result.message = lost.what();
    }
    return result;
}

}  // namespace

const char* status_name(ArchiveStatus status) {
    switch (status) {
        case ArchiveStatus::Done: return "done";
        case ArchiveStatus::Unreachable: return "unreachable";
        case ArchiveStatus::Busy: return "busy";
    }
    return "unreachable";
}

ImportCounts import_journals(Store& store, const DataDir& dataDir) {
    Removals removals;
    ImportCounts total = import_each_journal(store, dataDir, store.controllers(), removals);
    add(total, import_each_journal(store, dataDir, retired_owners(store), removals));
    return total;
}

std::vector<ArchiveResult> archive_controllers(Store& store, LeaseKeeper& leases, const DataDir& dataDir,
                                               const std::vector<Controller>& controllers, int parallel,
                                               int64_t run) {
    std::vector<ArchiveResult> results(controllers.size());
    Removals removals;
    const ImportCounts retired = import_each_journal(store, dataDir, retired_owners(store), removals);
    if (retired.records > 0 || retired.photos > 0) {
        std::cerr << "doorlinkd: imported the journals of removed controllers: " << retired.records
                  << " records, " << retired.photos << " photos" << std::endl;
    }
    run_in_parallel(controllers.size(), parallel, [&](size_t i) {
        results[i] = archive_one(store, leases, dataDir, controllers[i], removals);
        store.store_archive_result(run, results[i]);
    });
    return results;
}

}  // namespace doorlinkd
