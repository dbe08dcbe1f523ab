// List numbers lent to controller syncs: a list number names the list file,
// the read-back files and the progress keys of eqminfo.ini, so two syncs at
// once must never share one. A number is lent to one sync at a time in this
// process, and locked (a lock file per number under the data directory)
// against other processes that use the same data directory.
#pragma once

#include "library/data_dir.h"

namespace doorlinkd {

// The list numbers that records from arguments may use (0 to 255): also the
// most controllers synced at once.
constexpr int kListNumbers = 256;

class BorrowedList {
public:
    // The lowest free list number; waits while every one is lent. Throws
    // StoreError when a lock file cannot be made.
    explicit BorrowedList(const DataDir& dataDir);
    ~BorrowedList();
    BorrowedList(const BorrowedList&) = delete;
    BorrowedList& operator=(const BorrowedList&) = delete;

    int number() const { return number_; }

private:
    int number_ = -1;
    int lockFd_ = -1;
};

}  // namespace doorlinkd
