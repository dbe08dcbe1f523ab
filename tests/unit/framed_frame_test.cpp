// Command frames: the request built from a command block, and the checks a
// reply frame must pass.
#include <gtest/gtest.h>

#include <vector>

#include "framed/com_link.h"

namespace doorlink {
namespace {

using Bytes = std::vector<uint8_t>;
using framed::ComLink;
using framed::LinkSettings;

LinkSettings settings(uint16_t node, uint16_t reserved = 0) {
    LinkSettings s;
    s.node = node;
    s.reserved = reserved;
    s.address = "127.0.0.1";
    return s;
}

TEST(CommandFrame, CarriesNodeStationCommandAndPayload) {
    const uint8_t station[2] = {0x01, 0x02};
    const uint8_t block[] = {0x05, 0x00, 0x02, 0xAA, 0xBB};
    EXPECT_EQ(framed::BuildCommandFrame(settings(0x1234), station, block),
              (Bytes{0xA3, 0xA8, 0x00, 0x02, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x00, 0x00,
                     0x01, 0x02, 0x00, 0x00, 0x00, 0x05, 0xAA, 0xBB, 0x00, 0x00, 0x00, 0x00}));
}

TEST(CommandFrame, EmptyPayloadGivesTwentyTwoBytesAndLongPayloadsKeepTheirLength) {
    const uint8_t station[2] = {0xAB, 0xCD};
    const uint8_t empty[] = {0x7E, 0x00, 0x00, 0xEE};  // the byte after L is not payload
    Bytes frame = framed::BuildCommandFrame(settings(1, 0x0203), station, empty);
    ASSERT_EQ(frame.size(), 22u);
    EXPECT_EQ(frame[17], 0x7E);
    EXPECT_EQ((Bytes{frame[4], frame[5]}), (Bytes{0x02, 0x03}));
    EXPECT_EQ(Bytes(frame.end() - 4, frame.end()), Bytes(4, 0));

    Bytes block = {0x10, 0x01, 0x2C};  // L = 300
    for (int i = 0; i < 300; ++i) block.push_back(static_cast<uint8_t>(i));
    frame = framed::BuildCommandFrame(settings(1), station, block.data());
    ASSERT_EQ(frame.size(), 322u);
    EXPECT_EQ((Bytes{frame[2], frame[3]}), (Bytes{0x01, 0x2C}));
    EXPECT_EQ(Bytes(frame.begin() + 18, frame.begin() + 318), Bytes(block.begin() + 3, block.end()));
    EXPECT_EQ(Bytes(frame.end() - 4, frame.end()), Bytes(4, 0));
}

// A reply frame that every check accepts: node 0x1234, reserved 0, station
// 0x0102, byte 17 = 1, two payload bytes.
Bytes good_reply() {
    return {0xD3, 0xD8, 0x00, 0x02, 0x00, 0x00, 0x12, 0x34, 0,    0,
            0,    0,    0x01, 0x02, 0,    0,    0,    0x01, 0x61, 0x62};
}

TEST(ReplyCheck, RefusesEachWrongField) {
    ComLink link(settings(0x1234));
    auto check = [&](const Bytes& r) {
        return link.CheckReply(static_cast<int>(r.size()), r.data(), framed::kReplyHead, 0x0102, 0x01);
    };
    EXPECT_TRUE(check(good_reply()));
    struct Fault {
        const char* what;
        size_t at;
        uint8_t value;
    };
    for (Fault f : {Fault{"head", 0, 0xA3}, Fault{"head", 1, 0xA8}, Fault{"reserved", 4, 0x01},
                    Fault{"reserved", 5, 0x01}, Fault{"node", 6, 0x34}, Fault{"node", 7, 0x12},
                    Fault{"station", 12, 0x02}, Fault{"station", 13, 0x01}, Fault{"byte 17", 17, 0x05},
                    Fault{"byte 17", 17, 0x00}}) {
        Bytes r = good_reply();
        r[f.at] = f.value;
        EXPECT_FALSE(check(r)) << f.what << " at " << f.at;
    }
    // Nothing beyond the bytes received is looked at.
    const Bytes full = good_reply();
    const Bytes cut(full.begin(), full.begin() + 17);
    EXPECT_FALSE(check(cut));
    EXPECT_FALSE(link.CheckReply(0, nullptr, framed::kReplyHead, 0x0102, 0x01));
}

}  // namespace
}  // namespace doorlink
