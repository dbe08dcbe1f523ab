// The floor of doorlinkd's benchmark: the same exports the service calls,
// called directly from as many threads, without a database, leases or
// comparisons. Controllers come on standard input, one "ADDRESS MAC" a line.
//   doorlinkd_floor sync THREADS CARDS SHARED   for each controller: read back
//       (empty), write CARDS records with NameToText, download, read back,
//       NameToini; SHARED 1: every controller the same cards, 0: its own
//   doorlinkd_floor archive THREADS             DataRtn for each controller
// Prints the controllers that failed; exits 1 when any did.
#include <doorlink/doorlink.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Target {
    std::string address, mac;
};

std::string read_back_path(int list) {
    const char* home = std::getenv("DOORLINK_HOME");  // NOLINT(concurrency-mt-unsafe)
    char name[64];
    std::snprintf(name, sizeof name, "/list/ReCardInfo%03d.dat", list);
    return std::string(home ? home : ".") + name;
}

bool sync_one(const Target& t, int index, int list, int cards, bool shared) {
    if (LookDoorName(t.address.c_str(), list, t.mac.c_str()) != 1) return false;
    for (int i = 0; i < cards; ++i) {
        char card[16];
        std::snprintf(card, sizeof card, "%03d%05d", shared ? 0 : 1 + index % 255, i);
        if (NameToText(card, "123456", 1, "0800-1200-01;", "", "", "", "", "", "", "654321", 2, list,
                       i == 0 ? 0 : 1) != 1) {
            return false;
        }
    }
    return DoorDownName(t.address.c_str(), cards, list, t.mac.c_str()) == 1 &&
           LookDoorName(t.address.c_str(), list, t.mac.c_str()) == 1 &&
           NameToini(read_back_path(list).c_str(), list) == 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: doorlinkd_floor sync THREADS CARDS SHARED | archive THREADS\n";
        return 2;
    }
    const std::string mode = argv[1];
    const int threads = std::atoi(argv[2]);
    const int cards = argc > 3 ? std::atoi(argv[3]) : 0;
    const bool shared = argc > 4 && std::atoi(argv[4]) != 0;
    std::vector<Target> targets;
    Target t;
    while (std::cin >> t.address >> t.mac) targets.push_back(t);

    std::atomic<size_t> next{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < threads; ++w) {
        workers.emplace_back([&, w] {
            for (size_t i; (i = next++) < targets.size();) {
                const bool ok = mode == "sync" ? sync_one(targets[i], static_cast<int>(i), w, cards, shared)
                                               : DataRtn(targets[i].address.c_str(), static_cast<int>(i + 1),
                                                         targets[i].mac.c_str()) != 0;
                if (!ok) {
                    ++failed;
                    std::cerr << "failed: " << targets[i].address << '\n';
                }
            }
        });
    }
    for (auto& worker : workers) worker.join();
    return failed ? 1 : 0;
}
