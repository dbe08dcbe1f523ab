// The benchmark program: google-benchmark's console output, then the table of
// figures against their floors and goals (report.h). Started with
// --peak-memory-child it performs one operation whose peak memory the parent
// measures (peak_memory.h).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>

#include "peak_memory.h"
#include "report.h"

int main(int argc, char** argv) {
    if (const int status = doorlink::bench::run_peak_memory_child(argc, argv); status >= 0) {
        // Without the exit handlers: the data directory is the parent's.
        std::_Exit(status);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    doorlink::bench::TableReporter reporter(::isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Color
                                                                    : benchmark::ConsoleReporter::OO_None);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
