// What serve's monitoring reads: the datagrams controllers push, told apart
// before an export takes them, and the controllers' clocks.
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "fleet/clock_skew.h"
#include "serve/pushed_datagram.h"

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

TEST(ClockSkew, IsTheControllersLocalTimeLessOurs) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 5;
    local.tm_hour = 14;
    local.tm_min = 7;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    const std::time_t now = std::mktime(&local);
    EXPECT_EQ(clock_skew("26-03-05 14:07:09", now), 0);
    EXPECT_EQ(clock_skew("26-03-05 15:07:19", now), 3610);
    EXPECT_EQ(clock_skew("26-03-04 14:07:09", now), -86400);
    EXPECT_FALSE(clock_skew("26-03-05 14:3c:09", now));  // a byte that is no two decimal digits
    EXPECT_FALSE(clock_skew("26-13-05 14:07:09", now));
    EXPECT_FALSE(clock_skew("", now));
    EXPECT_EQ(local_time_text(now), "20260305140709");
}

}  // namespace
}  // namespace doorlinkd
