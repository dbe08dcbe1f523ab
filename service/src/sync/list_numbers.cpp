#include "sync/list_numbers.h"

namespace doorlinkd {

int ListNumbers::borrow() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        for (int number = 0; number < kListNumbers; ++number) {
            if (!lent_[number]) {
                lent_[number] = true;
                return number;
            }
        }
        returned_.wait(lock);
    }
}

void ListNumbers::give_back(int number) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lent_[number] = false;
    }
    returned_.notify_one();
}

}  // namespace doorlinkd
