// The runs of sync and archive with each controller's result, and every
// controller's latest results.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/archive_result.h"
#include "model/pages.h"
#include "model/sync_result.h"

namespace doorlinkd {

class Database;

class RunStore {
public:
    virtual ~RunStore() = default;

    // A run of sync: its id, then one result per controller.
    virtual int64_t begin_sync_run(const std::string& owner, bool checkOnly) = 0;
    virtual void store_sync_result(int64_t run, const SyncResult& result) = 0;
    // The results stored with a run, in the order they were stored, each
    // with its drift in the order given. Empty for an unknown run.
    virtual std::vector<SyncResult> sync_results(int64_t run) = 0;
    // Newest first.
    virtual Page<SyncRunInfo> sync_runs(int offset, int limit) = 0;

    // A run of archive, as a run of sync.
    virtual int64_t begin_archive_run(const std::string& owner) = 0;
    virtual void store_archive_result(int64_t run, const ArchiveResult& result) = 0;
    virtual std::vector<ArchiveResult> archive_results(int64_t run) = 0;
    virtual Page<ArchiveRunInfo> archive_runs(int offset, int limit) = 0;
    // Every controller's latest sync and archive result, in name order.
    virtual std::vector<ControllerSummary> controller_summaries() = 0;
};

class SqlRuns : public virtual RunStore {
public:
    explicit SqlRuns(Database& database) : db_(database) {}

    int64_t begin_sync_run(const std::string& owner, bool checkOnly) override;
    void store_sync_result(int64_t run, const SyncResult& result) override;
    std::vector<SyncResult> sync_results(int64_t run) override;
    Page<SyncRunInfo> sync_runs(int offset, int limit) override;
    int64_t begin_archive_run(const std::string& owner) override;
    void store_archive_result(int64_t run, const ArchiveResult& result) override;
    std::vector<ArchiveResult> archive_results(int64_t run) override;
    Page<ArchiveRunInfo> archive_runs(int offset, int limit) override;
    std::vector<ControllerSummary> controller_summaries() override;

private:
    Database& db_;
};

}  // namespace doorlinkd
