#include "peak_memory.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/library_state.h"
#include "doorlink/doorlink.h"

extern char** environ;

namespace doorlink::bench {
namespace {

// The child's peak resident set in kB, or a negative value when it could not
// be started or did not succeed.
double child_peak_kB(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"/proc/self/exe", kPeakMemoryChild};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) return -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return static_cast<double>(usage.ru_maxrss);
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
    const std::string op = argv[2];
    if (op == "idle") return 0;
    // convert SOURCE COUNT LIST KIND
    if (op == "convert" && argc == 7) {
        core::LibraryState::get().worker_start_pause_ms() = 0;
        return TransformName(argv[3], std::atoi(argv[4]), static_cast<uint32_t>(std::atoi(argv[5])),
                             static_cast<uint32_t>(std::atoi(argv[6]))) == 1
                   ? 0
                   : 1;
    }
    // retrieve ADDRESS CONTROLLER MAC (with photos)
    if (op == "retrieve" && argc == 6) return DataRtn(argv[3], std::atoi(argv[4]), argv[5]) == 2 ? 0 : 1;
    return 2;
}

}  // namespace doorlink::bench
