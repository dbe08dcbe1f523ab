#include "serve/card_locks.h"

namespace doorlinkd {

CardLocks::Held::Held(CardLocks& locks, const std::optional<std::string>& card)
    : locks_(locks), card_(card.value_or("")) {
    if (!card) {
        locks_.every_.lock();
        return;
    }
    {
        const std::lock_guard<std::mutex> table(locks_.table_);
        std::unique_ptr<Entry>& slot = locks_.entries_[card_];
        if (!slot) slot = std::make_unique<Entry>();
        ++slot->users;
        entry_ = slot.get();
    }
    locks_.every_.lock_shared();
    entry_->photo.lock();
}

CardLocks::Held::~Held() {
    if (!entry_) {
        locks_.every_.unlock();
        return;
    }
    entry_->photo.unlock();
    locks_.every_.unlock_shared();
    const std::lock_guard<std::mutex> table(locks_.table_);
    if (--entry_->users == 0) locks_.entries_.erase(card_);
}

size_t CardLocks::cards_in_use() const {
    const std::lock_guard<std::mutex> table(table_);
    return entries_.size();
}

}  // namespace doorlinkd
