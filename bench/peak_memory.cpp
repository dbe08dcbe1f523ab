#include "peak_memory.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "peak_memory_operations.h"

extern char** environ;

namespace doorlink::bench {
namespace {

// The child's peak resident set in kB, or a negative value when it could not
// be started or did not succeed. The child reports its own high-water mark
// (VmHWM) on its standard output: the maximum that wait4 gives also counts the
// parent's memory, which a spawned child shares until it runs the program.
double child_peak_kB(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"/proc/self/exe", kPeakMemoryChild};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string report;
    char chunk[256];
    for (ssize_t n; spawned == 0 && (n = ::read(out[0], chunk, sizeof chunk)) > 0;) {
        report.append(chunk, static_cast<size_t>(n));
    }
    ::close(out[0]);
    if (spawned != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return report.empty() ? -1 : std::atof(report.c_str());
}

// This process's peak resident set in kB, from /proc/self/status.
long own_peak_kB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

}  // namespace

void measure_peak_memory(benchmark::State& state, const std::vector<std::string>& args) {
    static const double idle = child_peak_kB({"idle"});
    double peak = -1;
    for (auto _ : state) peak = child_peak_kB(args);
    if (peak < 0 || idle < 0) {
        state.SkipWithError("the measured process failed");
        return;
    }
    state.counters["peak_rss_MB"] = peak / 1024.0;
    state.counters["idle_rss_MB"] = idle / 1024.0;
}

int run_peak_memory_child(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[1], kPeakMemoryChild) != 0) return -1;
    const int status = run_operation(std::vector<std::string>(argv + 2, argv + argc));
    if (status == 0) std::printf("%ld\n", own_peak_kB());
    std::fflush(stdout);
    return status;
}

}  // namespace doorlink::bench
