// List numbers lent to controller syncs: a list number names the list file,
// the read-back files and the progress keys of eqminfo.ini, so two syncs at
// once must never share one. Other processes stay out of the data directory
// (its kernel lock), so lending within the process is enough.
#pragma once

#include <array>
#include <condition_variable>
#include <mutex>

namespace doorlinkd {

// The list numbers that records from arguments may use (0 to 255): also the
// most controllers synced at once.
constexpr int kListNumbers = 256;

class ListNumbers {
public:
    // The lowest free number; waits while every one is lent.
    int borrow();
    void give_back(int number);

private:
    std::mutex mutex_;
    std::condition_variable returned_;
    std::array<bool, kListNumbers> lent_{};
};

// A number borrowed for one sync, given back at its end.
class BorrowedList {
public:
    explicit BorrowedList(ListNumbers& pool) : pool_(pool), number_(pool.borrow()) {}
    ~BorrowedList() { pool_.give_back(number_); }
    BorrowedList(const BorrowedList&) = delete;
    BorrowedList& operator=(const BorrowedList&) = delete;

    int number() const { return number_; }

private:
    ListNumbers& pool_;
    const int number_;
};

}  // namespace doorlinkd
