// The threads of a sync run and the list numbers they borrow.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

#include "common/parallel.h"
#include "sync/list_numbers.h"

namespace doorlinkd {
namespace {

using namespace std::chrono_literals;

TEST(RunInParallel, RunsEveryIndexOnceOnAtMostTheThreadsGiven) {
    std::vector<std::atomic<int>> runs(24);
    std::atomic<int> running{0}, most{0};
    run_in_parallel(runs.size(), 3, [&](size_t i) {
        const int now = ++running;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(20ms);
        ++runs[i];
        --running;
    });
    for (const auto& count : runs) EXPECT_EQ(count, 1);
    EXPECT_GE(most, 2);
    EXPECT_LE(most, 3);
}

TEST(RunInParallel, AnExceptionStopsNewWorkAndComesOutAfterTheThreadsEnd) {
    std::atomic<int> started{0}, finished{0};
    EXPECT_THROW(run_in_parallel(100, 2,
                                 [&](size_t i) {
                                     ++started;
                                     std::this_thread::sleep_for(5ms);
                                     if (i == 3) throw std::runtime_error("store down");
                                     ++finished;
                                 }),
                 std::runtime_error);
    EXPECT_LT(started, 100);
    EXPECT_EQ(finished, started - 1);  // every other call ran to its end first
}

TEST(ListNumbers, EachIsLentOnceAndABorrowerWaitsForOneToComeBack) {
    ListNumbers pool;
    std::vector<std::unique_ptr<BorrowedList>> lent;
    std::set<int> numbers;
    for (int i = 0; i < kListNumbers; ++i) {
        lent.push_back(std::make_unique<BorrowedList>(pool));
        numbers.insert(lent.back()->number());
    }
    EXPECT_EQ(numbers.size(), static_cast<size_t>(kListNumbers));
    EXPECT_EQ(*numbers.begin(), 0);
    EXPECT_EQ(*numbers.rbegin(), kListNumbers - 1);

    std::atomic<int> waited{-1};
    std::thread borrower([&] { waited = BorrowedList(pool).number(); });
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(waited, -1);
    const int returned = lent[17]->number();
    lent[17].reset();
    borrower.join();
    EXPECT_EQ(waited, returned);
}

}  // namespace
}  // namespace doorlinkd
