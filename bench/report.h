// The console output of the benchmark program, followed at the end of the run
// by one table of the figures that matter: each beside its floor (the same
// datagrams over a raw socket against the same simulator, measured in the
// same run), their ratio and its goal; how the big operations grow with their
// size; and the peak memory of two of them. With repetitions, the medians.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace doorlink::bench {

class TableReporter : public benchmark::ConsoleReporter {
public:
    using benchmark::ConsoleReporter::ConsoleReporter;
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::map<std::string, Run> results_;  // by name without the time type, e.g. "BM_Download"
};

}  // namespace doorlink::bench
