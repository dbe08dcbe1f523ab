// The simulator's photos are real JPEG files, and what it streams of them
// adds up to the file byte for byte.
#include <gtest/gtest.h>

#include "doorsim/simulator.h"

namespace doorlink {
namespace {

using doorsim::Bytes;

TEST(SimulatorPhotos, DecodeWholeAndNeverEndOnABlockBoundary) {
    for (int width : {40, 160, 333, 640}) {
        Bytes jpeg = doorsim::make_photo("00101234", "2026-12-07 10:11:12", width, width * 3 / 4);
        int w = 0, h = 0;
        ASSERT_TRUE(doorsim::decode_photo(jpeg, w, h)) << width;
        EXPECT_EQ(w, width);
        EXPECT_EQ(h, width * 3 / 4);
        EXPECT_NE(jpeg.size() % 1024, 0u);
        EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
        EXPECT_EQ(jpeg.back(), 0xD9);
        // Cut short or spoilt, it is no whole image (and decoding survives it).
        Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
        EXPECT_FALSE(doorsim::decode_photo(cut, w, h));
        Bytes spoilt = jpeg;
        spoilt[2] = 0x00;
        EXPECT_FALSE(doorsim::decode_photo(spoilt, w, h));
    }
    // Different texts give different photos.
    EXPECT_NE(doorsim::make_photo("00100001", "x"), doorsim::make_photo("00100002", "x"));
}

TEST(SimulatorPhotos, LivePhotoBlocksCarryTheImageInOrder) {
    doorsim::StoredRecord r = doorsim::make_record(9, 0x1234, 0, 1, 200, 150);
    auto blocks = doorsim::live_photo_blocks(r, 0x010203);
    ASSERT_EQ(blocks.size(), (r.photo.size() + 1023) / 1024);
    Bytes joined;
    for (size_t k = 0; k < blocks.size(); ++k) {
        ASSERT_EQ(blocks[k].size(), 1052u);
        EXPECT_EQ(blocks[k][1050], blocks.size());
        EXPECT_EQ(blocks[k][1051], k);
        EXPECT_EQ(Bytes(blocks[k].begin() + 1034, blocks[k].begin() + 1040),
                  (Bytes{9, 0x12, 0x34, 0x01, 0x02, 0x03}));
        joined.insert(joined.end(), blocks[k].begin() + 10, blocks[k].begin() + 1034);
    }
    joined.resize(r.photo.size());
    EXPECT_EQ(joined, r.photo);
}

}  // namespace
}  // namespace doorlink
