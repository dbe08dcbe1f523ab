#include "cardlists/conversion.h"

#include <mutex>
#include <vector>

#include "cardlists/binary_file.h"
#include "cardlists/list_files.h"
#include "cardlists/list_guard.h"
#include "cardlists/source_file.h"
#include "core/library_state.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/threads.h"

namespace doorlink::cardlists {
namespace {

// Each worker gets its own copy; the snapshot of the source file is shared.
struct WorkerParameters {
    int group = 0;
    platform::ProfileSnapshot source{nullptr};
    int listNumber = 0;
    RecordKind kind = RecordKind::Short;
    SourceRecordBuilder build = nullptr;
};

// Writes the records of cards group * 100 + 1 ... + count at the file's
// current position, all in one write. A card that cannot be converted (no
// memory left, say) fails the group; nothing is thrown.
bool write_group(BinaryFile& out, const platform::ProfileSnapshot& source, int group, int count,
                 RecordKind kind, SourceRecordBuilder build) noexcept {
    try {
        const size_t size = record_size(kind);
        std::vector<uint8_t> block(static_cast<size_t>(count) * size);
        for (int k = 0; k < count; ++k) {
            build(source, group * kCardsPerGroup + k + 1, kind, DigitEnd::Zero,
                  block.data() + static_cast<size_t>(k) * size);
        }
        return out.write(block.data(), block.size());
    } catch (...) {
        return false;
    }
}

// A worker thread: whatever goes wrong fails its group, never the process.
void convert_group(void* argument) noexcept {
    const auto& p = *static_cast<const WorkerParameters*>(argument);
    bool ok = false;
    try {
        BinaryFile part(PartFilePath(p.listNumber, p.group), "wb+");
        ok = part.is_open() && write_group(part, p.source, p.group, kCardsPerGroup, p.kind, p.build);
        ok = part.close() && ok;
    } catch (...) {
        ok = false;
    }
    // The part file is complete on disk before the flag says so.
    core::LibraryState::get().conversion_flag(p.group).store(ok ? kGroupDone : kGroupFailed);
}

}  // namespace

bool MergePartFile(BinaryFile& list, const std::string& partPath, int group, RecordKind kind) {
    const size_t block = kCardsPerGroup * record_size(kind);
    std::vector<uint8_t> bytes(block);
    bool ok;
    {
        BinaryFile part(partPath, "rb+");
        ok = part.is_open() && part.read(bytes.data(), block) == block;
    }
    platform::delete_file(partPath);
    return ok && list.seek(static_cast<long>(static_cast<size_t>(group) * block)) &&
           list.write(bytes.data(), block);
}

uint32_t ConvertList(const char* sourcePath, int32_t count, uint32_t listNumber, RecordKind kind,
                     SourceRecordBuilder build) {
    if (!sourcePath || count < 0 || count > kMaxConversionCards || listNumber > kMaxConversionListNumber) {
        return 0;
    }
    core::LibraryState& state = core::LibraryState::get();
    std::lock_guard<platform::Mutex> oneAtATime(state.conversion_lock());

    const int list = static_cast<int>(listNumber);
    ListFileGuard writing(list, ListFileGuard::Use::Write);
    EnsureListDirectory();
    const std::string listPath = ListFilePath(list);
    BinaryFile out(listPath, "wb+");
    if (!out.is_open()) return 0;
    if (count == 0) return 0;  // the list file is left empty

    const platform::ProfileSnapshot source(sourcePath);
    int groups = count / kCardsPerGroup;
    int last = count % kCardsPerGroup;
    if (last != 0) ++groups;
    else last = kCardsPerGroup;

    std::vector<WorkerParameters> parameters(static_cast<size_t>(groups - 1));
    std::vector<platform::Thread> workers(static_cast<size_t>(groups - 1));
    int started = 0;
    bool ok = true;
    for (int g = 0; g < groups - 1; ++g) {
        platform::sleep_ms(state.worker_start_pause_ms().load());
        state.conversion_flag(g).store(0);
        parameters[g] = {g, source, list, kind, build};
        if (!workers[g].start(&convert_group, &parameters[g])) {
            ok = false;
            break;
        }
        ++started;
    }

    const int lastGroup = groups - 1;
    state.conversion_flag(lastGroup).store(0);
    if (ok) {
        const long at =
            static_cast<long>(static_cast<size_t>(lastGroup) * kCardsPerGroup * record_size(kind));
        ok = out.seek(at) && write_group(out, source, lastGroup, last, kind, build);
    }
    state.conversion_flag(lastGroup).store(ok ? kGroupDone : kGroupFailed);

    // Each worker has set its flag when it ends.
    for (int g = 0; g < started; ++g) {
        workers[g].join();
        ok = ok && state.conversion_flag(g).load() == kGroupDone;
    }
    for (int g = 0; g < started; ++g) {
        const std::string partPath = PartFilePath(list, g);
        if (ok) ok = MergePartFile(out, partPath, g, kind);
        else platform::delete_file(partPath);
    }
    ok = out.close() && ok;
    if (!ok) {
        // No half-converted list stays behind.
        BinaryFile empty(listPath, "wb+");
    }
    return ok ? 1 : 0;
}

}  // namespace doorlink::cardlists
