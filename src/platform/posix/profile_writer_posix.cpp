// A profile file streamed into a file beside its path and renamed over it when
// complete, in the layout the INI document gives a file it writes anew:
// "[section]" and "key=value" lines, each ended by a line feed, nothing
// between them.
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

#include "platform/posix/file_beside.h"
#include "platform/profile.h"

namespace doorlink::platform {
namespace {

// Lines are written in pieces of about this size.
constexpr size_t kPieceSize = size_t{64} * 1024;

}  // namespace

struct ProfileFileWriter::State {
    std::string path;
    std::string temp;  // empty: none was created
    int fd = -1;
    std::string lines;    // not written yet
    std::string section;  // a section whose line waits for its first key
    bool failed = false;

    void line(std::initializer_list<std::string_view> pieces) {
        for (std::string_view piece : pieces) lines.append(piece);
        lines += '\n';
        if (lines.size() >= kPieceSize) write_lines();
    }
    void write_lines() {
        if (!failed && !write_all(fd, lines.data(), lines.size())) failed = true;
        lines.clear();
    }
    void close() {
        if (fd >= 0 && ::close(fd) != 0) failed = true;
        fd = -1;
    }
};

ProfileFileWriter::ProfileFileWriter(const char* path) : state_(std::make_unique<State>()) {
    State& s = *state_;
    if (path) {
        s.path = path;
        s.fd = create_file_beside(s.path, 0644, s.temp);
    }
    if (s.fd < 0) {
        s.temp.clear();
        s.failed = true;
    }
    s.lines.reserve(kPieceSize + 256);
}

ProfileFileWriter::~ProfileFileWriter() {
    state_->close();
    if (!state_->temp.empty()) ::unlink(state_->temp.c_str());
}

// A section without keys is no section: profile_write_strings writes none.
void ProfileFileWriter::section(std::string_view name) { state_->section.assign(name); }

void ProfileFileWriter::key(std::string_view name, std::string_view value) {
    State& s = *state_;
    if (!s.section.empty()) {
        s.line({"[", s.section, "]"});
        s.section.clear();
    }
    s.line({name, "=", value});
}

bool ProfileFileWriter::finish() {
    State& s = *state_;
    s.write_lines();
    s.close();
    if (!s.failed && std::rename(s.temp.c_str(), s.path.c_str()) != 0) s.failed = true;
    if (!s.failed) s.temp.clear();  // it is the file now
    return !s.failed;
}

}  // namespace doorlink::platform
