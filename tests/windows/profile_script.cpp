// Runs a script of INI operations through the platform's profile functions
// and prints what every read returns. Built for Linux (the library's own
// profile store) and for Windows (the platform's profile functions, run
// under Wine); the Wine suite runs both on the same script and compares
// their output line by line.
//
//     profile_script SCRIPT [PART]
//
// A line "swap" divides a script into part 1 and part 2; between the two the
// suite swaps the files of the two runs, so that part 2 reads what the other
// platform wrote. PART runs one of them; without it the whole script runs.
//
// The INI file is "profile.ini" in the current directory. Script lines, with
// fields separated by '|' and \n, \r, \t, \\ and \| as escapes:
//     file|TEXT                  the file's whole content becomes TEXT
//     remove                     the file is deleted
//     write|SECTION|KEY|VALUE    prints the result of the write
//     batch|SECTION|KEY|VALUE|SECTION|KEY|VALUE...
//                                the writes as one batch; prints its result
//     read|SECTION|KEY|DEFAULT|SIZE
//                                prints the count and the text read;
//                                DEFAULT <null> passes a null default
//     int|SECTION|KEY|DEFAULT    prints the number read
//     keys|SECTION               prints the key names of the section
//     show                       prints the file's lines (line ends dropped)
// Blank lines and lines starting with # are skipped.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/profile.h"

namespace {

std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            fields.back() += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
        } else if (c == '|') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// The text with control characters made visible, so that outputs compare as lines.
std::string shown(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == '"' || c == '\\') (out += '\\') += c;
        else out += c;
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: profile_script SCRIPT [PART]\n");
        return 2;
    }
    const int part = argc == 3 ? std::atoi(argv[2]) : 0;
    int currentPart = 1;
    std::ifstream script(argv[1], std::ios::binary);
    if (!script) {
        std::fprintf(stderr, "profile_script: cannot read %s\n", argv[1]);
        return 2;
    }
    const std::string path = std::string(".") + doorlink::platform::kPathSeparator + "profile.ini";
    std::string line;
    int number = 0;
    while (std::getline(script, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line == "swap") {
            ++currentPart;
            continue;
        }
        if (part != 0 && part != currentPart) continue;
        std::vector<std::string> f = split_fields(line);
        const std::string& op = f[0];
        std::printf("%d %s: ", number, op.c_str());
        if (op == "file" && f.size() == 2) {
            std::FILE* out = std::fopen(path.c_str(), "wb");
            bool ok = out && std::fwrite(f[1].data(), 1, f[1].size(), out) == f[1].size();
            if (out) std::fclose(out);
            std::printf("%s\n", ok ? "written" : "not written");
        } else if (op == "show" && f.size() == 1) {
            std::ifstream in(path, std::ios::binary);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::string shownLines;
            size_t at = 0;
            while (at < text.size()) {
                size_t end = text.find('\n', at);
                if (end == std::string::npos) end = text.size();
                std::string fileLine = text.substr(at, end - at);
                if (!fileLine.empty() && fileLine.back() == '\r') fileLine.pop_back();
                shownLines += (shownLines.empty() ? "" : " ") + shown(fileLine);
                at = end + 1;
            }
            std::printf("%s\n", shownLines.c_str());
        } else if (op == "remove" && f.size() == 1) {
            std::remove(path.c_str());
            std::printf("removed\n");
        } else if (op == "write" && f.size() == 4) {
            bool ok = doorlink::platform::profile_write_string(f[1].c_str(), f[2].c_str(), f[3].c_str(),
                                                               path.c_str());
            std::printf("%d\n", ok ? 1 : 0);
        } else if (op == "batch" && f.size() >= 4 && (f.size() - 1) % 3 == 0) {
            std::vector<doorlink::platform::ProfileWrite> writes;
            for (size_t i = 1; i + 2 < f.size(); i += 3) {
                writes.push_back({f[i].c_str(), f[i + 1].c_str(), f[i + 2].c_str()});
            }
            bool ok = doorlink::platform::profile_write_strings(writes.data(), writes.size(), path.c_str());
            std::printf("%d\n", ok ? 1 : 0);
        } else if (op == "read" && f.size() == 5) {
            uint32_t size = static_cast<uint32_t>(std::strtoul(f[4].c_str(), nullptr, 10));
            std::vector<char> buffer(size + 8, '#');
            const char* def = f[3] == "<null>" ? nullptr : f[3].c_str();
            uint32_t n = doorlink::platform::profile_read_string(f[1].c_str(), f[2].c_str(), def,
                                                                 buffer.data(), size, path.c_str());
            std::string text = size > 0 ? std::string(buffer.data()) : std::string();
            std::printf("%u %s\n", n, shown(text).c_str());
        } else if (op == "keys" && f.size() == 2) {
            std::string names;
            for (const std::string& name :
                 doorlink::platform::profile_read_key_names(f[1].c_str(), path.c_str())) {
                names += (names.empty() ? "" : " ") + shown(name);
            }
            std::printf("%s\n", names.c_str());
        } else if (op == "int" && f.size() == 4) {
            int32_t def = static_cast<int32_t>(std::strtol(f[3].c_str(), nullptr, 10));
            std::printf("%ld\n", static_cast<long>(doorlink::platform::profile_read_int(
                                     f[1].c_str(), f[2].c_str(), def, path.c_str())));
        } else {
            std::printf("bad script line\n");
            return 2;
        }
    }
    return 0;
}
