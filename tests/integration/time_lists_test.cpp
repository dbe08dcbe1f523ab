// Lock and button times, modes and rest days against a simulated controller.
#include <gtest/gtest.h>

#include "doorlink/doorlink.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

using doorsim::Bytes;
using testing::elapsed_ms;

class TimeLists : public testing::SimulatedController {
protected:
    Bytes last() const { return received().back().bytes; }
    Bytes macBytes() const {
        auto m = sim.mac(id);
        return Bytes(m.begin(), m.end());
    }
    static Bytes slice(const Bytes& b, size_t at, size_t n) {
        return Bytes(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
    }
};

TEST_F(TimeLists, ShortItemsFillTwoByteSlots) {
    uint32_t result = 0;
    long ms = elapsed_ms(
        [&] { result = DoorLockAndButtonTime(address.c_str(), "0830,1730", "0830,17", mac.c_str()); });
    ASSERT_EQ(result, 1u);
    EXPECT_GE(ms, 950);  // the command waits a second after sending
    Bytes r = last();
    ASSERT_EQ(r.size(), 50u);
    EXPECT_EQ(slice(r, 0, 12), (Bytes{0x62, 0x26, 0x36, 0x46, 0x00, 0x11, 2, 2, 2, 2, 2, 2}));
    Bytes lock(16, 0);
    lock[0] = 0x08;
    lock[1] = 0x1E;
    lock[2] = 0x11;
    lock[3] = 0x1E;
    Bytes button(16, 0);
    button[0] = 0x08;
    button[1] = 0x1E;
    EXPECT_EQ(slice(r, 12, 16), lock);
    EXPECT_EQ(slice(r, 28, 16), button);
    EXPECT_EQ(slice(r, 44, 6), macBytes());
    EXPECT_EQ(sim.state(id).doors.lockSlots, lock);
}

TEST_F(TimeLists, AtMostEightShortItemsAndEmptyTextsGiveZeroSlots) {
    std::string ten;
    for (int i = 1; i <= 10; ++i) ten += (i < 10 ? "0" : "") + std::to_string(i) + "00,";
    ASSERT_EQ(MulDoorLockAndButtonTime(address.c_str(), ten.c_str(), "", 0x5A, mac.c_str()), 1u);
    Bytes r = last();
    ASSERT_EQ(r.size(), 52u);
    EXPECT_EQ(r[12 + 14], 8);  // the eighth item is the last one sent
    EXPECT_EQ(slice(r, 28, 16), Bytes(16, 0));
    EXPECT_EQ(r[44], 0x5A);
    EXPECT_EQ(slice(r, 45, 6), macBytes());
    EXPECT_EQ(r[51], 0x00);
}

TEST_F(TimeLists, LongItemsFillFiveByteSlots) {
    ASSERT_EQ(
        DoorLockAndButtonTime3(address.c_str(), "0800-1200-01;1300-1730-02", "0700-0800-03", mac.c_str()),
        1u);
    Bytes r = last();
    ASSERT_EQ(r.size(), 58u);
    Bytes lock(20, 0);
    Bytes items = {0x08, 0x00, 0x0C, 0x00, 0x01, 0x0D, 0x00, 0x11, 0x1E, 0x02};
    std::copy(items.begin(), items.end(), lock.begin());
    EXPECT_EQ(slice(r, 12, 20), lock);
    EXPECT_EQ(slice(r, 32, 5), (Bytes{0x07, 0x00, 0x08, 0x00, 0x03}));
    EXPECT_EQ(slice(r, 52, 6), macBytes());
    EXPECT_TRUE(sim.state(id).doors.longTimeItems);
}

TEST_F(TimeLists, DispatcherPicksTheVariantByKind) {
    ASSERT_EQ(LockAndButtonTime(address.c_str(), "0830", "", mac.c_str(), 0x1FF, 2), 1u);
    EXPECT_EQ(last().size(), 52u);
    EXPECT_EQ(last()[44], 0xFF);
    ASSERT_EQ(LockAndButtonTime(address.c_str(), "0830", "", mac.c_str(), 0, 1), 1u);
    EXPECT_EQ(last().size(), 58u);
    ASSERT_EQ(LockAndButtonTime(address.c_str(), "0830", "", mac.c_str(), 0, 0), 1u);
    EXPECT_EQ(last().size(), 50u);
}

TEST_F(TimeLists, ModesAreSentTwiceWithTheMac) {
    const uint8_t modes[3] = {0x01, 0x02, 0x03};
    ASSERT_EQ(SetMode(modes, address.c_str(), mac.c_str()), 1u);
    Bytes block = {0x01, 0x02, 0x03};
    const Bytes m = macBytes();
    block.insert(block.end(), m.begin(), m.end());
    Bytes expected = {0x33, 0x33, 0x43, 0x53, 0x88};
    expected.insert(expected.end(), block.begin(), block.end());
    expected.insert(expected.end(), block.begin(), block.end());
    expected.push_back(0x00);
    EXPECT_EQ(last(), expected);

    ASSERT_EQ(MulSetMode(modes, 0x44, address.c_str(), mac.c_str()), 1u);
    Bytes r = last();
    ASSERT_EQ(r.size(), 26u);
    EXPECT_EQ(slice(r, 5, 10), slice(r, 15, 10));
    EXPECT_EQ(r[8], 0x44);
    EXPECT_EQ(sim.state(id).doors.modesExtra, 0x44);
}

TEST_F(TimeLists, ASilentControllerCostsTheWaitAndTwoSeconds) {
    doorsim::Faults f;
    f.silent = true;
    sim.set_faults(id, f);
    const uint8_t modes[3] = {1, 2, 3};
    uint32_t result = 1;
    long ms = elapsed_ms([&] { result = SetMode(modes, address.c_str(), mac.c_str()); });
    EXPECT_EQ(result, 0u);
    EXPECT_GE(ms, 2900);
    EXPECT_LT(ms, 6000);
}

TEST_F(TimeLists, RestDaysCarryTheWeekAndUpToTwentyItems) {
    ASSERT_EQ(DoorRestDay(address.c_str(), "0000011", "0101,1225", mac.c_str()), 1u);
    Bytes r = last();
    ASSERT_EQ(r.size(), 106u);
    EXPECT_EQ(slice(r, 0, 12), (Bytes{0x62, 0x26, 0x36, 0x46, 0x00, 0x11, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(slice(r, 12, 7), (Bytes{0, 0, 0, 0, 0, 1, 1}));
    Bytes slots(40, 0);
    slots[0] = 0x01;
    slots[1] = 0x01;
    slots[2] = 0x0C;
    slots[3] = 0x19;
    EXPECT_EQ(slice(r, 19, 40), slots);
    EXPECT_EQ(slice(r, 59, 40), Bytes(40, 0));
    EXPECT_EQ(slice(r, 99, 6), macBytes());
    EXPECT_EQ(r[105], 0x00);

    std::string many;
    for (int i = 0; i < 25; ++i) many += "0203,";
    ASSERT_EQ(DoorRestDay(address.c_str(), "1111111", many.c_str(), mac.c_str()), 1u);
    auto rest = sim.state(id).doors.restDays;
    EXPECT_EQ(rest[38], 2);
    EXPECT_EQ(rest[39], 3);
    EXPECT_EQ(slice(last(), 59, 40), Bytes(40, 0));
}

}  // namespace
}  // namespace doorlink
