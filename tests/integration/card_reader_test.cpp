// GetCardNo and the reader port operations against a simulated card reader
// on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "cardlists/card_reader.h"
#include "doorlink/doorlink.h"
#include "doorsim/card_reader.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using doorsim::Card;
using doorsim::CardReader;
using testing::elapsed_ms;

class Reader : public ::testing::Test {
protected:
    void SetUp() override {
        reader.start();
        path = reader.path();
    }

    // GetCardNo into a buffer that starts as "untouched".
    uint32_t get_card(char (&result)[32]) {
        std::memset(result, 0, sizeof result);
        std::strcpy(result, "untouched");
        return GetCardNo(path.c_str(), result);
    }

    CardReader reader;
    std::string path;
};

TEST_F(Reader, ReadsACardOnALineSetTo9600Baud8DataBitsTwoStopBits) {
    reader.set_card(Card{0x00, 0x0C, 0x30, 0x39});
    char result[32];
    ASSERT_EQ(get_card(result), 1u);
    EXPECT_STREQ(result, "0000798777,01212345");
    EXPECT_EQ(result[20], '\0');  // nothing written beyond the 20 bytes
    EXPECT_EQ(reader.misframed(), 0u);
    CardReader::Line line = reader.line();
    EXPECT_EQ(line.baud, 9600u);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.stopBits, 2);
    EXPECT_FALSE(line.parity);
    EXPECT_TRUE(line.raw);
}

TEST_F(Reader, TwoCallsInARowOnThePortBothSucceed) {
    // The second card is all ones: the value is unsigned and fills ten digits.
    reader.present(Card{0x00, 0x0C, 0x30, 0x39});
    reader.present(Card{0xFF, 0xFF, 0xFF, 0xFF});
    char result[32];
    ASSERT_EQ(get_card(result), 1u);
    EXPECT_STREQ(result, "0000798777,01212345");
    ASSERT_EQ(get_card(result), 1u);
    EXPECT_STREQ(result, "4294967295,25565535");
    // Bytes such as 0x0D and 0x11 come through unchanged on a raw line.
    reader.present(Card{0x0D, 0x11, 0x0A, 0x13});
    ASSERT_EQ(get_card(result), 1u);
    EXPECT_STREQ(result, "0219220499,01702579");
}

TEST_F(Reader, ADeviceThatWaitsAWhileBeforeACardIsStillRead) {
    char result[32];
    uint32_t got = 0;
    std::thread caller([&] { got = get_card(result); });
    ASSERT_TRUE(reader.wait_polls(5, std::chrono::milliseconds(3000)));
    reader.present(Card{0x12, 0x34, 0x56, 0x78});
    caller.join();
    ASSERT_EQ(got, 1u);
    EXPECT_STREQ(result, "0305419896,05222136");
}

TEST_F(Reader, AReaderAnsweringShortGivesZeroAfterAHundredPolls) {
    reader.set_card(Card{0x00, 0x0C, 0x30, 0x39});
    reader.set_mode(CardReader::Mode::Short);
    char result[32];
    long ms = elapsed_ms([&] { EXPECT_EQ(get_card(result), 0u); });
    EXPECT_STREQ(result, "untouched");
    EXPECT_EQ(reader.polls(), 100u);
    EXPECT_GE(reader.replies(), 50u);  // it did answer, only never in full
    EXPECT_GE(ms, 4500);
    EXPECT_LT(ms, 20000);
    // The port was closed after the failure: the next call gets the card.
    reader.set_mode(CardReader::Mode::Answer);
    ASSERT_EQ(get_card(result), 1u);
    EXPECT_STREQ(result, "0000798777,01212345");
}

TEST(ReaderPort, APortThatDoesNotExistOrIsNoTerminalGivesZeroAtOnce) {
    testing::TempDir dir;
    const std::string missing = dir.file("ttyMissing");
    const std::string plain = dir.file("plain-file");
    {
        std::FILE* f = std::fopen(plain.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    char result[20] = "untouched";
    long ms = elapsed_ms([&] {
        EXPECT_EQ(GetCardNo(missing.c_str(), result), 0u);
        EXPECT_EQ(GetCardNo(plain.c_str(), result), 0u);
        EXPECT_EQ(GetCardNo("", result), 0u);
        EXPECT_EQ(GetCardNo(nullptr, result), 0u);
    });
    EXPECT_LT(ms, 1000);
    EXPECT_STREQ(result, "untouched");
    EXPECT_FALSE(std::filesystem::exists(missing));  // opened, never created
    EXPECT_EQ(std::filesystem::file_size(plain), 0u);
}

TEST_F(Reader, NullResultGivesZeroWithoutPolling) {
    reader.set_card(Card{1, 2, 3, 4});
    EXPECT_EQ(GetCardNo(path.c_str(), nullptr), 0u);
    EXPECT_FALSE(reader.wait_polls(1, std::chrono::milliseconds(200)));
}

TEST_F(Reader, APortInUseIsRefusedUntilItIsClosed) {
    cardlists::SerialHandle first = cardlists::OpenReaderPort(path.c_str());
    ASSERT_NE(first, cardlists::kNoSerialPort);
    EXPECT_EQ(cardlists::OpenReaderPort(path.c_str()), cardlists::kNoSerialPort);
    char result[20] = "untouched";
    EXPECT_EQ(GetCardNo(path.c_str(), result), 0u);
    EXPECT_STREQ(result, "untouched");
    cardlists::CloseReaderPort(first);
    cardlists::CloseReaderPort(cardlists::kNoSerialPort);  // ignored
    cardlists::SerialHandle again = cardlists::OpenReaderPort(path.c_str());
    EXPECT_NE(again, cardlists::kNoSerialPort);
    cardlists::CloseReaderPort(again);
}

TEST_F(Reader, ReadsTakeAtMostWhatHasArrivedAndNeverWait) {
    cardlists::SerialHandle port = cardlists::OpenReaderPort(path.c_str());
    ASSERT_NE(port, cardlists::kNoSerialPort);
    uint8_t buffer[16] = {};
    long ms = elapsed_ms([&] { EXPECT_EQ(cardlists::ReadReaderPort(port, buffer, 4), 0u); });
    EXPECT_LT(ms, 500);

    reader.present(Card{0xA1, 0xB2, 0xC3, 0xD4});
    ASSERT_EQ(cardlists::WriteReaderPort(port, cardlists::kPollRequest, 2), 2u);
    ASSERT_TRUE(reader.wait_polls(1, std::chrono::milliseconds(2000)));
    // Wait until the whole reply has come in.
    uint32_t errors = 0, queued = 0;
    for (int i = 0; i < 200 && queued < 4; ++i) {
        platform::serial_clear_error(port, errors, queued);
        if (queued < 4) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(queued, 4u);
    EXPECT_EQ(cardlists::ReadReaderPort(port, buffer, 3), 3u);
    ms = elapsed_ms([&] { EXPECT_EQ(cardlists::ReadReaderPort(port, buffer + 3, 10), 1u); });
    EXPECT_LT(ms, 500);  // one byte was there; the read did not wait for ten
    EXPECT_EQ(buffer[0], 0xA1);
    EXPECT_EQ(buffer[3], 0xD4);
    EXPECT_EQ(buffer[4], 0x00);
    EXPECT_EQ(cardlists::ReadReaderPort(port, buffer, 4), 0u);
    EXPECT_EQ(cardlists::ReadReaderPort(cardlists::kNoSerialPort, buffer, 4), 0u);
    EXPECT_EQ(cardlists::WriteReaderPort(cardlists::kNoSerialPort, buffer, 2), 0u);
    cardlists::CloseReaderPort(port);
}

// The platform's serial port on a terminal: line state round trip and read
// time-outs as the communications functions define them.
TEST_F(Reader, SerialReadsKeepTheirTimeOutsAndTheLineStateReadsBack) {
    platform::SerialHandle port = platform::serial_open(path.c_str());
    ASSERT_NE(port, platform::kNoSerialPort);
    platform::SerialLineState line;
    ASSERT_TRUE(platform::serial_get_state(port, line));
    line.baudRate = 9600;
    line.dataBits = 8;
    line.parity = 0;
    line.stopBits = 2;
    ASSERT_TRUE(platform::serial_set_state(port, line));
    platform::SerialLineState back;
    ASSERT_TRUE(platform::serial_get_state(port, back));
    EXPECT_EQ(back.baudRate, 9600u);
    EXPECT_EQ(back.dataBits, 8);
    EXPECT_EQ(back.parity, 0);
    EXPECT_EQ(back.stopBits, 2);
    EXPECT_FALSE(back.ctsFlowControl);

    platform::SerialTimeouts t;
    t.readInterval = 100;
    t.readTotalConstant = 400;
    ASSERT_TRUE(platform::serial_set_timeouts(port, t));
    uint8_t buffer[10] = {};
    uint32_t got = 99;
    // Nothing arrives: the total time-out ends the read.
    long ms = elapsed_ms([&] { EXPECT_TRUE(platform::serial_read(port, buffer, 10, got)); });
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms, 350);
    EXPECT_LT(ms, 3000);
    // Four bytes arrive, then nothing: the interval ends the read early.
    reader.present(Card{1, 2, 3, 4});
    uint32_t written = 0;
    ASSERT_TRUE(platform::serial_write(port, cardlists::kPollRequest, 2, written));
    EXPECT_EQ(written, 2u);
    ASSERT_TRUE(platform::serial_read(port, buffer, 10, got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(buffer[3], 4);
    platform::serial_close(port);
}

}  // namespace
}  // namespace doorlink
