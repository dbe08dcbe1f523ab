#include "card_files.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>

#include "bench_support.h"
#include "core/library_state.h"
#include "doorlink/doorlink.h"

namespace doorlink::bench {

std::string source_file(int count) {
    static std::map<int, std::string> written;
    if (auto it = written.find(count); it != written.end()) return it->second;
    std::string path = data_directory() + "/bench-source-" + std::to_string(count) + ".ini";
    std::ofstream out(path, std::ios::trunc);
    const char* sections[] = {"CardNo",    "SerialNo", "UserStyle", "Sunday",   "Monday",   "Tuesday",
                              "Wednesday", "Thursday", "Friday",    "Saturday", "Password", "OpenStyle"};
    for (const char* s : sections) {
        out << '[' << s << "]\n";
        for (int i = 1; i <= count; ++i) {
            std::string name = s;
            char value[64];
            if (name == "CardNo") std::snprintf(value, sizeof value, "%03d%05d,%03d%05d", i % 256, i, 1, i);
            else if (name == "SerialNo" || name == "Password") std::snprintf(value, sizeof value, "%06d", i);
            else if (name == "UserStyle" || name == "OpenStyle")
                std::snprintf(value, sizeof value, "%d", i % 2);
            else std::snprintf(value, sizeof value, "0800-1200-%02d;1300-1730-%02d;", i % 100, i % 7);
            out << s << i << '=' << value << '\n';
        }
    }
    written[count] = path;
    return path;
}

int long_record_list(int records) {
    static std::map<int, int> lists;
    if (auto it = lists.find(records); it != lists.end()) return it->second;
    core::LibraryState::get().worker_start_pause_ms() = 0;
    const int list = 100 + records / 100;
    const bool written = FormatName1(source_file(records).c_str(), records, static_cast<uint32_t>(list)) == 1;
    return lists[records] = written ? list : -1;
}

}  // namespace doorlink::bench
