// Whole-list conversion of a card list source file into the card list file of
// a list number: groups of 100 cards, all but the last converted by worker
// threads into part files, which the calling thread merges.
#pragma once

#include <cstdint>
#include <string>

#include "cardlists/card_record.h"
#include "cardlists/source_file.h"

namespace doorlink::cardlists {

constexpr int kCardsPerGroup = 100;
constexpr int kMaxConversionCards = 5000;  // 50 groups, one completion flag each
// List numbers above 999 would give list file names that are part file names
// of other lists ("doorname1234.dat" is part 4 of list 123).
constexpr uint32_t kMaxConversionListNumber = 999;

// Completion flag values: a group is done, or its worker could not write it.
constexpr uint32_t kGroupDone = 1;
constexpr uint32_t kGroupFailed = 2;

// How the record of one card of the source file is built: BuildSourceRecord,
// unless a test puts something else in its place.
using SourceRecordBuilder = void (*)(const platform::ProfileSnapshot& source, int cardIndex, RecordKind kind,
                                     DigitEnd digitEnd, uint8_t* record);

// 1 when the list file holds all count records, else 0 (no part file is left
// either way). The source file is read once, into a snapshot that the calling
// thread and the workers share.
uint32_t ConvertList(const char* sourcePath, int32_t count, uint32_t listNumber, RecordKind kind,
                     SourceRecordBuilder build = &BuildSourceRecord);

// Copies the whole part file of group into the list file at its place and
// deletes the part file; false (the part file deleted all the same) when it
// is missing or shorter than a group.
bool MergePartFile(class BinaryFile& list, const std::string& partPath, int group, RecordKind kind);

}  // namespace doorlink::cardlists
