// Holds the card list file of a list number: a writer (a conversion, a
// record from arguments) alone for the length of its call, readers (downloads)
// together while they read the file, so that a download never sends a list
// that is still being written; it waits until the writer is done.
#pragma once

#include <cstdint>

#include "core/library_state.h"

namespace doorlink::cardlists {

class ListFileGuard {
public:
    enum class Use { Read, Write };

    ListFileGuard(int32_t listNumber, Use use) : listNumber_(listNumber), shared_(use == Use::Read) {
        core::LibraryState::get().list_locks().lock(listNumber_, shared_);
    }
    ~ListFileGuard() { core::LibraryState::get().list_locks().unlock(listNumber_, shared_); }
    ListFileGuard(const ListFileGuard&) = delete;
    ListFileGuard& operator=(const ListFileGuard&) = delete;

private:
    int32_t listNumber_;
    bool shared_;
};

}  // namespace doorlink::cardlists
