#include "peak_memory_operations.h"

#include <stdlib.h>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>

#include "core/library_state.h"
#include "doorlink/doorlink.h"

namespace doorlink::bench {
namespace {

using Words = std::vector<std::string>;

int32_t number(const std::string& word) { return static_cast<int32_t>(std::atoi(word.c_str())); }
uint32_t unsigned_number(const std::string& word) { return static_cast<uint32_t>(number(word)); }

struct Operation {
    size_t arguments;
    std::function<bool(const Words&)> run;  // the words after the name
};

const std::map<std::string, Operation>& operations() {
    static const std::map<std::string, Operation> table = {
        {"idle", {0, [](const Words&) { return true; }}},
        {"convert",
         {4,
          [](const Words& a) {
              core::LibraryState::get().worker_start_pause_ms() = 0;
              return TransformName(a[0].c_str(), number(a[1]), unsigned_number(a[2]),
                                   unsigned_number(a[3])) == 1;
          }}},
        {"signal",
         {3,
          [](const Words& a) {
              uint8_t record[360];
              auto format = number(a[2]) == 1 ? FormatSignalName1 : FormatSignalName;
              return format(a[0].c_str(), number(a[1]), record) == 1;
          }}},
        {"download",
         {5,
          [](const Words& a) {
              return DownName(a[0].c_str(), number(a[1]), number(a[2]), a[3].c_str(),
                              unsigned_number(a[4])) == 1;
          }}},
        {"read-back",
         {3, [](const Words& a) { return LookDoorName(a[0].c_str(), number(a[1]), a[2].c_str()) == 1; }}},
        {"to-ini", {2, [](const Words& a) { return NameToini(a[0].c_str(), number(a[1])) == 1; }}},
        {"retrieve",
         {3, [](const Words& a) { return DataRtn(a[0].c_str(), number(a[1]), a[2].c_str()) == 2; }}},
        {"transfer",
         {3, [](const Words& a) { return TxDataRtn(a[0].c_str(), number(a[1]), a[2].c_str()) == 1; }}},
    };
    return table;
}

}  // namespace

int run_operation(const Words& words) {
    if (words.size() > 2 && words[0] == "home") {
        // Read when the library first needs its module directory.
        ::setenv("DOORLINK_HOME", words[1].c_str(), 1);
        return run_operation(Words(words.begin() + 2, words.end()));
    }
    if (words.empty()) return 2;
    auto found = operations().find(words[0]);
    if (found == operations().end() || words.size() != found->second.arguments + 1) return 2;
    return found->second.run(Words(words.begin() + 1, words.end())) ? 0 : 1;
}

}  // namespace doorlink::bench
