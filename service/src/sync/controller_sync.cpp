#include "sync/controller_sync.h"

#include <unistd.h>

#include "sync/sync.h"

namespace doorlinkd {
namespace {

// The list file and the read-back files of a list number hold every PIN of
// the controller's cards: removed as the sync ends, however it ends, before
// its list number is lent again.
class ListFilesRemoved {
public:
    ListFilesRemoved(const DataDir& dataDir, int list)
        : files_{dataDir.list_file(list), dataDir.read_back_file(list), dataDir.read_back_ini(list)} {}
    ~ListFilesRemoved() {
        for (const std::string& file : files_) ::unlink(file.c_str());  // missing when its step never ran
    }
    ListFilesRemoved(const ListFilesRemoved&) = delete;
    ListFilesRemoved& operator=(const ListFilesRemoved&) = delete;

private:
    const std::string files_[3];
};

}  // namespace

SyncResult sync_controller(const Controller& controller, const std::vector<Card>& cards,
                           const DataDir& dataDir, int list, ListWork work,
                           const BeforeExport& beforeExport) {
    const ListFilesRemoved removed(dataDir, list);
    SyncResult result;
    result.controller = controller.name;
    result.cards = static_cast<int>(cards.size());
    // Each step either succeeds or leaves the controller unreachable, whose
    // list is then not known.
    auto step = [&](const char* after, const auto& run) {
        try {
            run();
            return true;
        } catch (const StepFailed& failure) {
            result.status = SyncStatus::Unreachable;
            result.drift.clear();
            result.message = after + std::string(failure.what());
            return false;
        }
    };
    auto compare = [&] {
        result.drift = compare_cards(cards, read_controller_list(controller, dataDir, list, beforeExport),
                                     controller.longRecords);
    };

    if (work != ListWork::replace) {
        if (!step("", compare)) return result;
        if (result.drift.empty()) {
            result.status = SyncStatus::InStep;
            return result;
        }
        if (work == ListWork::check) {
            result.status = SyncStatus::Drift;
            return result;
        }
    }
    if (!step("", [&] { write_controller_list(controller, cards, list, beforeExport); })) return result;
    if (!step("after the download, ", compare)) return result;
    result.status = result.drift.empty() ? SyncStatus::Repaired : SyncStatus::Drift;
    return result;
}

}  // namespace doorlinkd
