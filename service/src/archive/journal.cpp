// The journal of one controller: its retrieval record files in cardinfo/,
// the photos their lines name under pic/, and its temporary photo files.
// The files are only as good as the disk: what cannot be read is skipped
// with a note.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "archive/archive.h"
#include "archive/journal_names.h"
#include "archive/photo_hash.h"

namespace doorlinkd {
namespace {

namespace fs = std::filesystem;

// The regular files directly in a directory; none when it cannot be read.
std::vector<fs::path> files_in(const fs::path& directory) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class JournalReader {
public:
    JournalReader(const DataDir& dataDir, const Controller& controller)
        : records_(dataDir.record_directory()),
          photos_(dataDir.photo_directory()),
          controller_(controller),
          number_(number_text(controller.number)) {}

    Journal read() {
        // Retrieval files in the order the retrievals ran.
        std::map<RetrievalFileName, fs::path> retrievals;
        for (const fs::path& path : files_in(records_)) {
            if (auto name = retrieval_file_name(path.filename().string(), number_)) retrievals[*name] = path;
        }
        for (const auto& entry : retrievals) read_retrieval_file(entry.second);
        for (const fs::path& path : files_in(photos_)) {
            if (temporary_photo_name(path.filename().string(), number_)) remove_later(path);
        }
        for (const auto& entry : retrievals) remove_later(entry.second);
        return std::move(journal_);
    }

private:
    void note(const std::string& text) { journal_.notes.push_back(text); }

    void remove_later(const fs::path& path) {
        if (listed_.insert(path.string()).second) journal_.files.push_back(path.string());
    }

    void read_retrieval_file(const fs::path& path) {
        std::ifstream in(path);
        if (!in) {
            note("cannot read " + path.string());
            return;
        }
        const std::string file = path.filename().string();
        int image = 0;  // the line's number: the image number of its photo
        for (std::string text; std::getline(in, text);) {
            ++image;
            const auto line = parse_record_line(text, number_);
            if (!line) {
                note(file + " line " + std::to_string(image) + ": not a record line of controller " +
                     number_ + ", skipped");
                continue;
            }
            IncomingRecord record{controller_.name, line->card, line->time, line->kind, std::nullopt};
            if (controller_.photos) record.photo = photo_for(*line, image, file);
            journal_.records.push_back(std::move(record));
        }
        if (in.bad()) note("cannot read all of " + path.string());
    }

    // The photo the line's image number names, else the only one of its
    // card, time and number (an image number that differs from the line's).
    std::optional<fs::path> find_photo(const RecordLine& line, int image) const {
        const fs::path directory = photos_ / line.card;
        fs::path exact = directory / photo_name(line.card, line.time, number_, image);
        std::error_code ec;
        if (fs::is_regular_file(exact, ec)) return exact;
        std::optional<fs::path> only;
        for (const fs::path& path : files_in(directory)) {
            if (!photo_name_of(path.filename().string(), line.card, line.time, number_)) continue;
            if (only) return std::nullopt;
            only = path;
        }
        return only;
    }

    std::optional<Photo> photo_for(const RecordLine& line, int image, const std::string& file) {
        const std::string where = file + " line " + std::to_string(image) + ": ";
        const auto path = find_photo(line, image);
        if (!path) {
            note(where + "no photo of card " + line.card + " at " + line.time);
            return std::nullopt;
        }
        auto bytes = read_photo_file(path->string());
        if (!bytes) {
            note(where + "cannot read " + path->string());
            return std::nullopt;
        }
        remove_later(*path);
        if (bytes->empty()) {
            note(where + "empty photo " + path->string());
            return std::nullopt;
        }
        return photo_of(std::move(*bytes));
    }

    const fs::path records_;
    const fs::path photos_;
    const Controller& controller_;
    const std::string number_;
    Journal journal_;
    std::set<std::string> listed_;
};

}  // namespace

Journal read_journal(const DataDir& dataDir, const Controller& controller) {
    return JournalReader(dataDir, controller).read();
}

}  // namespace doorlinkd
