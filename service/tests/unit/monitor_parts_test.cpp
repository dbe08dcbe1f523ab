// What serve's monitoring reads: the datagrams controllers push, told apart
// before an export takes them, the photos' locks by card, and the
// controllers' clocks.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

#include "fleet/clocks.h"
#include "serve/card_locks.h"
#include "serve/pushed_datagram.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

Pushed kind_of(const std::vector<uint8_t>& bytes, size_t length) {
    return classify_pushed(bytes.data(), length);
}

TEST(PushedDatagram, OnlyAPhotosFirstBlockGoesToThePhotoExportAndOnlyContentToTheReportExport) {
    std::vector<uint8_t> block(kPhotoBlockLength, 0);
    block[1050] = 3;  // blocks of the photo
    EXPECT_EQ(kind_of(block, block.size()), Pushed::PhotoStart);
    block[1051] = 2;
    EXPECT_EQ(kind_of(block, block.size()), Pushed::LatePhotoBlock);
    EXPECT_EQ(kind_of(block, block.size() - 1), Pushed::ErrorReport);  // no block: a report
    EXPECT_EQ(kind_of(block, block.size() + 1), Pushed::ErrorReport);

    std::vector<uint8_t> ack = {0xF1, 0xF2, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(kind_of(ack, 10), Pushed::Acknowledgement);
    ack.push_back(0);
    EXPECT_EQ(kind_of(ack, 11), Pushed::ErrorReport);
    std::vector<uint8_t> report = {'d', 'o', 'o', 'r', ' ', 'f', 'o', 'r', 'c', 'e'};
    EXPECT_EQ(kind_of(report, 10), Pushed::ErrorReport);  // ten bytes, not the acknowledgement
    EXPECT_EQ(kind_of(report, 0), Pushed::Empty);
}

TEST(PushedDatagram, APhotosCardIsReadFromItsFirstBlockOnlyWhenItsBytesAreThere) {
    std::vector<uint8_t> block(kPhotoBlockLength, 0);
    block[1034] = 1;  // site
    block[1035] = 12345 >> 8;
    block[1036] = 12345 & 0xFF;
    EXPECT_EQ(photo_card(block.data(), block.size()), "00112345");
    EXPECT_EQ(photo_card(block.data(), 1037), "00112345");
    EXPECT_FALSE(photo_card(block.data(), 1036));
    EXPECT_FALSE(photo_card(nullptr, block.size()));
    block[1034] = 255;
    block[1035] = block[1036] = 255;
    EXPECT_EQ(photo_card(block.data(), block.size()), "25565535");
}

TEST(CardLocks, OneCardAtATimeOtherCardsAtOnceAnUnknownCardAloneAndNoEntryOnceUnused) {
    using namespace std::chrono_literals;
    CardLocks locks;
    auto held_once = [&locks](std::optional<std::string> card) {
        return std::async(std::launch::async, [&locks, card] { const CardLocks::Held held(locks, card); });
    };
    std::future<void> sameCard, unknownCard;
    {
        const CardLocks::Held first(locks, std::string("00112345"));
        EXPECT_EQ(held_once(std::string("00154321")).wait_for(10s), std::future_status::ready);
        sameCard = held_once(std::string("00112345"));
        unknownCard = held_once(std::nullopt);
        EXPECT_EQ(sameCard.wait_for(300ms), std::future_status::timeout);
        EXPECT_EQ(unknownCard.wait_for(10ms), std::future_status::timeout);
        EXPECT_EQ(locks.cards_in_use(), 1u);
    }
    EXPECT_EQ(sameCard.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(unknownCard.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(locks.cards_in_use(), 0u);
}

TEST(ClockSkew, ComparesWallClockTimesInTheSitesZoneAcrossItsChanges) {
    const std::string zone = "Europe/Berlin";
    auto skew_at = [&](const std::string& clockText, const std::string& utcNow) {
        return clock_skew(clockText, local_text(instant_of(utcNow, "UTC").utcMs, zone));
    };
    // The clocks went forward at 01:00 UTC, from 02:00 to 03:00 local: one
    // not set since shows the gap's wall-clock time, an hour behind.
    EXPECT_EQ(skew_at("26-03-29 02:00:30", "20260329010030"), -3600);
    EXPECT_EQ(skew_at("26-03-29 03:00:40", "20260329010030"), 10);
    // They went back at 01:00 UTC, from 03:00 to 02:00 local: in the
    // repeated hour a clock showing 02:30 is right, one not set an hour ahead.
    EXPECT_EQ(skew_at("26-10-25 02:30:00", "20261025003000"), 0);  // the first 02:30
    EXPECT_EQ(skew_at("26-10-25 02:30:00", "20261025013000"), 0);  // the second
    EXPECT_EQ(skew_at("26-10-25 03:30:00", "20261025013000"), 3600);
    EXPECT_EQ(skew_at("26-03-04 14:07:09", "20260305130709"), -86400);
    EXPECT_FALSE(skew_at("26-03-05 14:3c:09", "20260305130709"));  // a byte that is no two decimal digits
    EXPECT_FALSE(skew_at("26-13-05 14:07:09", "20260305130709"));
    EXPECT_FALSE(skew_at("26-02-30 14:07:09", "20260305130709"));  // no such day
    EXPECT_FALSE(skew_at("", "20260305130709"));
}

}  // namespace
}  // namespace doorlinkd
