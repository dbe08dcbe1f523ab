// ErrorScore and DoorPic on a monitoring socket to which a simulated
// controller pushes error reports and live photos.
#include <gtest/gtest.h>

#include <cstring>

#include "core/transport.h"
#include "doorlink/doorlink.h"
#include "support/data_files.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

using doorsim::Bytes;
using testing::data_path;
using testing::read_bytes;
using testing::read_text;

class Pushed : public testing::SimulatedController {
protected:
    void SetUp() override {
        SimulatedController::SetUp();
        uint16_t port = 0;
        socket = core::OpenControllerSocket(port);
        ASSERT_NE(socket, 0u);
        sim.update_state(id, [&](doorsim::ControllerState& s) {
            s.monitor = doorsim::MonitorTarget{true, "127.0.0.1", port};
        });
    }
    void TearDown() override {
        if (socket) core::CloseControllerSocket(socket);
    }

    // The photo file as DoorPic writes it: every block's 1024 bytes.
    static Bytes padded(const Bytes& photo) {
        Bytes out = photo;
        out.resize((photo.size() + 1023) / 1024 * 1024, 0);
        return out;
    }

    uint32_t socket = 0;
};

TEST_F(Pushed, ErrorReportSkipsAcknowledgementsAndIsLogged) {
    ASSERT_TRUE(sim.push(id, Bytes{0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA}));
    ASSERT_TRUE(sim.push(id, Bytes{}));
    ASSERT_TRUE(doorsim::push_error_report(sim, id, "OK"));
    ASSERT_TRUE(doorsim::push_error_report(sim, id, "door 2 forced"));
    char text[1066];
    ASSERT_EQ(ErrorScore(address.c_str(), text, 3, socket), 1u);
    EXPECT_STREQ(text, "\xBB\xFA\xBA\xC5: 003\nOK");
    ASSERT_EQ(ErrorScore(nullptr, text, 3, socket), 1u);  // the address is not used
    EXPECT_STREQ(text, "\xBB\xFA\xBA\xC5: 003\ndoor 2 forced");
    EXPECT_EQ(read_text(data_path({"error", "error003.txt"})),
              "\xBB\xFA\xBA\xC5: 003\nOK\n\xBB\xFA\xBA\xC5: 003\ndoor 2 forced\n");
}

TEST_F(Pushed, LongErrorReportFillsTheWholeBufferAndSilenceLeavesTheLogAlone) {
    std::string report(1055, 'x');
    ASSERT_TRUE(doorsim::push_error_report(sim, id, report));
    std::vector<char> text(1066, '\x7F');
    ASSERT_EQ(ErrorScore(address.c_str(), text.data(), 999, socket), 1u);
    EXPECT_EQ(std::strlen(text.data()), 1065u);
    const std::string before = read_text(data_path({"error", "error999.txt"}));
    EXPECT_EQ(ErrorScore(address.c_str(), text.data(), 999, socket), 0u);
    EXPECT_EQ(read_text(data_path({"error", "error999.txt"})), before);
}

TEST_F(Pushed, MultiBlockPhotoWithAnOutOfOrderBlock) {
    // A photo of three blocks.
    doorsim::StoredRecord r;
    for (int width = 60; width < 400; width += 10) {
        r = doorsim::make_record(5, 0x0102, std::time(nullptr), 1, width, width * 3 / 4);
        if ((r.photo.size() + 1023) / 1024 == 3) break;
    }
    ASSERT_EQ((r.photo.size() + 1023) / 1024, 3u);
    // Block 2 overtakes block 1; its early copy is dropped and asked for again.
    ASSERT_TRUE(doorsim::push_live_photo(sim, id, r, {0, 2, 1}));
    char card[9] = {};
    char time[17] = {};
    ASSERT_EQ(DoorPic(0, card, time, socket), 1u);
    EXPECT_STREQ(card, "00500258");
    char expected[32];
    std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d", 2000 + r.year, r.month, r.day,
                  r.hour, r.minute);
    EXPECT_STREQ(time, expected);
    EXPECT_EQ(read_bytes(data_path({"curpic", "00500258.jpg"})), padded(r.photo));
    EXPECT_TRUE(std::filesystem::is_directory(data_path({"filepic"})));
    // One resend request, echoing bytes 1034-1039 of block 2.
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    auto blocksSent = doorsim::live_photo_blocks(r, 1);
    Bytes request = {0x73, 0x37, 0x47, 0x57};
    request.insert(request.end(), blocksSent[2].begin() + 1034, blocksSent[2].begin() + 1040);
    EXPECT_EQ(got[0].bytes, request);
}

TEST_F(Pushed, LostLastBlockIsAskedForAfterASilenceAndALaterPhotoReplacesTheFile) {
    doorsim::StoredRecord r = doorsim::make_record(1, 77, std::time(nullptr), 1, 200, 150);
    const size_t blocks = (r.photo.size() + 1023) / 1024;
    ASSERT_GE(blocks, 2u);
    std::vector<size_t> order;
    for (size_t k = 0; k + 1 < blocks; ++k) order.push_back(k);
    ASSERT_TRUE(doorsim::push_live_photo(sim, id, r, order));
    char card[9];
    char time[17];
    long ms = testing::elapsed_ms([&] { EXPECT_EQ(DoorPic(0, card, time, socket), 1u); });
    EXPECT_GE(ms, 1900);
    EXPECT_EQ(read_bytes(data_path({"curpic", "00100077.jpg"})), padded(r.photo));
    EXPECT_EQ(sim.state(id).records.photoResends, 1);

    doorsim::StoredRecord small = doorsim::make_record(1, 77, std::time(nullptr), 1, 40, 30);
    ASSERT_LT(small.photo.size(), r.photo.size());
    ASSERT_TRUE(doorsim::push_live_photo(sim, id, small));
    ASSERT_EQ(DoorPic(0, card, time, socket), 1u);
    EXPECT_EQ(read_bytes(data_path({"curpic", "00100077.jpg"})), padded(small.photo));
}

TEST_F(Pushed, NothingPushedGivesZeroAndBadArgumentsWaitForNothing) {
    char card[9] = "untouch";
    char time[17] = "untouched";
    char text[1066] = "untouched";
    long ms = testing::elapsed_ms([&] {
        EXPECT_EQ(DoorPic(0, nullptr, time, socket), 0u);
        EXPECT_EQ(DoorPic(0, card, nullptr, socket), 0u);
        EXPECT_EQ(DoorPic(0, card, time, 0), 0u);
        EXPECT_EQ(ErrorScore(address.c_str(), nullptr, 1, socket), 0u);
        EXPECT_EQ(ErrorScore(address.c_str(), text, 1, 0), 0u);
        // A handle that is no open socket fails at once.
        EXPECT_EQ(ErrorScore(address.c_str(), text, 1, 999999), 0u);
        EXPECT_EQ(DoorPic(0, card, time, 999999), 0u);
    });
    EXPECT_LT(ms, 500);
    EXPECT_EQ(DoorPic(0, card, time, socket), 0u);
    EXPECT_STREQ(card, "untouch");
    EXPECT_STREQ(time, "untouched");
    EXPECT_STREQ(text, "untouched");
}

// The socket that DoorScout hands over is the one the controller pushes to.
TEST(PushedAfterScout, ReportsAndPhotosArriveOnTheMonitoringSocket) {
    doorsim::Simulator sim;
    int id = sim.add_controller({});
    sim.start();
    uint32_t scoutSocket = 0;
    ASSERT_EQ(DoorScout(sim.address(id).c_str(), &scoutSocket), 1u);
    ASSERT_TRUE(sim.state(id).monitor.set);
    ASSERT_TRUE(doorsim::push_error_report(sim, id, "tamper"));
    doorsim::StoredRecord r = doorsim::make_record(2, 300, std::time(nullptr), 1, 160, 120);
    ASSERT_TRUE(doorsim::push_live_photo(sim, id, r));
    char text[1066];
    ASSERT_EQ(ErrorScore(sim.address(id).c_str(), text, 12, scoutSocket), 1u);
    EXPECT_STREQ(text, "\xBB\xFA\xBA\xC5: 012\ntamper");
    char card[9];
    char time[17];
    ASSERT_EQ(DoorPic(0, card, time, scoutSocket), 1u);
    EXPECT_STREQ(card, "00200300");
    Bytes file = read_bytes(data_path({"curpic", "00200300.jpg"}));
    ASSERT_GE(file.size(), r.photo.size());
    int width = 0, height = 0;
    EXPECT_TRUE(doorsim::decode_photo(file, width, height));
    EXPECT_EQ(width, 160);
    core::CloseControllerSocket(scoutSocket);
}

}  // namespace
}  // namespace doorlink
