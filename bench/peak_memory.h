// The peak resident memory of one operation, measured in a process of its
// own: the benchmark program starts itself again with --peak-memory-child and
// the operation's arguments, and the child reports its own peak. So what
// the benchmark process itself holds (simulators, earlier runs) does not
// count, only the operation and the bare program around it.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace doorlink::bench {

constexpr const char* kPeakMemoryChild = "--peak-memory-child";

// Runs the operation named by args in a child; sets the counters peak_rss_MB
// (the child's peak) and idle_rss_MB (the peak of a child that does nothing),
// or fails the benchmark when the child does not succeed.
void measure_peak_memory(benchmark::State& state, const std::vector<std::string>& args);

// In a child (argv[1] is kPeakMemoryChild): performs the operation and returns
// the process's exit status; otherwise -1.
int run_peak_memory_child(int argc, char** argv);

}  // namespace doorlink::bench
