// A profile file written by the platform's profile functions, one section at
// a time: each section is one batch of profile_write_strings, which writes a
// section the file does not hold yet with one section write. So only one
// section is held in memory, and the file is what one batch of all the
// writes would make of it.
#include <deque>

#include "platform/profile.h"

namespace doorlink::platform {

struct ProfileFileWriter::State {
    std::string path;
    std::string section;
    std::deque<std::string> texts;  // the keys and values of the section, in turn
    bool failed = false;

    void write_section() {
        if (texts.empty()) return;
        std::vector<ProfileWrite> writes;
        writes.reserve(texts.size() / 2);
        for (size_t i = 0; i + 1 < texts.size(); i += 2) {
            writes.push_back({section.c_str(), texts[i].c_str(), texts[i + 1].c_str()});
        }
        if (!failed && !profile_write_strings(writes.data(), writes.size(), path.c_str())) failed = true;
        texts.clear();
    }
};

ProfileFileWriter::ProfileFileWriter(const char* path) : state_(std::make_unique<State>()) {
    state_->failed = path == nullptr;
    if (path) state_->path = path;
}

ProfileFileWriter::~ProfileFileWriter() = default;

void ProfileFileWriter::section(std::string_view name) {
    state_->write_section();
    state_->section.assign(name);
}

void ProfileFileWriter::key(std::string_view name, std::string_view value) {
    state_->texts.emplace_back(name);
    state_->texts.emplace_back(value);
}

bool ProfileFileWriter::finish() {
    state_->write_section();
    return !state_->failed;
}

}  // namespace doorlink::platform
