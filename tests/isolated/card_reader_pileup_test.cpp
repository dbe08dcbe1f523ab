// GetCardNo against a scripted reader on the fake serial port of the fuzz
// support (script format in fuzz/support/fake_platform.h), with sleeps that
// return at once: bytes arrive exactly where the script puts them, so that
// answers which pile up in the receive queue do so on every run.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "doorlink/doorlink.h"
#include "support/fake_platform.h"

namespace doorlink {
namespace {

// One query of the line: the bytes that arrive at it.
void arrive(std::vector<uint8_t>& script, std::initializer_list<uint8_t> bytes) {
    script.push_back(static_cast<uint8_t>(bytes.size()));
    script.insert(script.end(), bytes);
}

TEST(CardReaderPileUp, ShortAnswersThatPileUpAreNoCardAndTheNextWholeAnswerIs) {
    std::vector<uint8_t> script = {0x00};  // the port set-up succeeds
    // Poll 1 goes unanswered until its two bytes arrive late, before poll 2;
    // poll 2 is answered with two bytes as well.
    arrive(script, {});
    arrive(script, {});
    arrive(script, {0xA1, 0xB2});
    arrive(script, {0xA1, 0xB2});
    // Poll 3: a late short answer and a whole one are queued together.
    arrive(script, {});
    arrive(script, {0xA1, 0xB2, 0x12, 0x34, 0x56, 0x78});
    // Poll 4: the card, alone.
    arrive(script, {});
    arrive(script, {0x12, 0x34, 0x56, 0x78});
    fuzz::use_serial_script(script.data(), script.size());

    char result[20] = "untouched";
    ASSERT_EQ(GetCardNo("/dev/ttyFAKE0", result), 1u);
    EXPECT_STREQ(result, "0305419896,05222136");
    EXPECT_FALSE(fuzz::serial_port_open());
}

}  // namespace
}  // namespace doorlink
