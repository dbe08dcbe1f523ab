// The archive's journal: the files a retrieval leaves in the data directory
// (record files in cardinfo/, photos in pic/<CARD>/, temporary photos in
// pic/), read as an import reads them (read_journal), and the names and
// lines it reads them by (retrieval_file_name, temporary_photo_name,
// photo_name_of, parse_record_line).
//   flags byte (bits 0-1: the controller's number 0, 7, 42 or 999; bit 2:
//   photos; bits 4-6: how many files), then per file a place byte
//   (cardinfo/, pic/ or pic/<CARD>/), its name (a length byte), for
//   pic/<CARD>/ the card (a length byte), and its bytes (a two-byte length).
// Nothing throws. A retrieval file's name is its key written out, so that
// no two files share a key; every line the records name is read, in the
// order of the retrievals, and every retrieval file is among the files to
// remove; those are listed once each, and only the journal's own.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/journal_names.h"
#include "support/fuzz_input.h"
#include "support/service_scratch.h"

using namespace doorlinkd;
namespace fs = std::filesystem;

namespace {

bool plain_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

void check_names(const std::string& name, const std::string& number) {
    if (const auto file = retrieval_file_name(name, number)) {
        FUZZ_CHECK(file->stem.size() == 17 && all_digits(file->stem) &&
                   file->stem.compare(14, 3, number) == 0);
        FUZZ_CHECK(name == file->stem + (file->copy == 1 ? "" : "_" + std::to_string(file->copy)) + ".txt");
    }
    if (const auto line = parse_record_line(name, number)) {
        FUZZ_CHECK(line->kind >= 0 && line->kind <= 255 && line->card.size() == 8 && line->time.size() == 14);
        const auto again = parse_record_line(
            line->card + "," + line->time + "," + number + "," + std::to_string(line->kind), number);
        FUZZ_CHECK(again && again->card == line->card && again->time == line->time &&
                   again->kind == line->kind);
    }
}

// The record lines of the retrieval files, in the order of the retrievals.
std::vector<RecordLine> expected_lines(const fs::path& records, const std::string& number,
                                       std::set<std::string>& retrievalFiles) {
    std::map<RetrievalFileName, fs::path> retrievals;
    std::error_code ec;
    for (fs::directory_iterator it(records, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        if (auto name = retrieval_file_name(it->path().filename().string(), number)) {
            retrievals[*name] = it->path();
            retrievalFiles.insert(it->path().string());
        }
    }
    std::vector<RecordLine> lines;
    for (const auto& entry : retrievals) {
        std::ifstream in(entry.second);
        for (std::string text; std::getline(in, text);) {
            if (auto line = parse_record_line(text, number)) lines.push_back(*line);
        }
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    doorlink::fuzz::FuzzInput in(data, size);
    const uint8_t flags = in.u8();
    Controller controller;
    controller.name = "door1";
    controller.number = std::vector<int>{0, 7, 42, 999}[flags & 3];
    controller.photos = (flags & 4) != 0;
    const std::string number = number_text(controller.number);
    FUZZ_CHECK(number.size() == 3);

    doorlink::fuzz::clear_scratch();
    const DataDir dataDir(doorlink::fuzz::scratch());
    const fs::path records = dataDir.record_directory();
    const fs::path photos = dataDir.photo_directory();
    fs::create_directories(records);
    fs::create_directories(photos);
    const int files = (flags >> 4) & 7;
    for (int i = 0; i < files; ++i) {
        const uint8_t place = in.u8() % 3;
        const std::string name = in.text(48);
        const std::string card = place == 2 ? in.text(8) : "";
        const std::string bytes = in.long_text();
        check_names(name, number);
        if (!plain_name(name) || (place == 2 && !plain_name(card))) continue;
        const fs::path path = place == 0 ? records / name : place == 1 ? photos / name : photos / card / name;
        doorlink::fuzz::write_scratch_file(path.string(), bytes);
    }

    std::set<std::string> retrievalFiles;
    const std::vector<RecordLine> lines = expected_lines(records, number, retrievalFiles);
    const Journal journal = read_journal(dataDir, controller);

    FUZZ_CHECK(journal.records.size() == lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const IncomingRecord& record = journal.records[i];
        FUZZ_CHECK(record.controller == controller.name && record.card == lines[i].card &&
                   record.time == lines[i].time && record.kind == lines[i].kind);
        FUZZ_CHECK(controller.photos || !record.photo);
        if (record.photo) FUZZ_CHECK(!record.photo->bytes.empty() && record.photo->sha256.size() == 64);
    }

    std::set<std::string> listed;
    for (const std::string& file : journal.files) {
        FUZZ_CHECK(listed.insert(file).second);
        const fs::path path(file);
        const std::string name = path.filename().string();
        const bool retrieval = retrievalFiles.count(file) == 1;
        const bool temporary = path.parent_path() == photos && temporary_photo_name(name, number);
        const bool photo = path.parent_path().parent_path() == photos &&
                           std::any_of(lines.begin(), lines.end(), [&](const RecordLine& line) {
                               return path.parent_path().filename() == line.card &&
                                      photo_name_of(name, line.card, line.time, number);
                           });
        FUZZ_CHECK(retrieval || temporary || photo);
    }
    for (const std::string& file : retrievalFiles) FUZZ_CHECK(listed.count(file) == 1);
    return 0;
}
