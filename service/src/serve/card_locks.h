// Locks by card for the photo export, which writes "curpic/<card>.jpg"
// block by block while a photo comes: two photos of one card are taken one
// after the other, photos of other cards at the same time. A card's entry
// lives only while a photo of it is taken or waits. A photo whose card is
// not known waits for every other photo and holds them all off.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>

namespace doorlinkd {

class CardLocks {
    struct Entry {
        std::mutex photo;
        int users = 0;  // holding or waiting
    };

public:
    // Holds the card's lock (every card's when none is known) while it lives.
    class Held {
    public:
        Held(CardLocks& locks, const std::optional<std::string>& card);
        ~Held();
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        CardLocks& locks_;
        const std::string card_;
        Entry* entry_ = nullptr;  // none: every card's
    };

    // Cards whose photo is taken or waiting now.
    size_t cards_in_use() const;

private:
    mutable std::mutex table_;
    std::map<std::string, std::unique_ptr<Entry>> entries_;
    std::shared_mutex every_;  // shared by each card's holder, whole for an unknown card
};

}  // namespace doorlinkd
