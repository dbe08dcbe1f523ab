// The device registry: one lookup and one writer over the INI profile store.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "devices/registry.h"
#include "platform/profile.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using devices::EntryKey;
using devices::EntryLookup;
using devices::FindRegistryEntry;
using devices::RegistryEntry;
using devices::WriteRegistryEntry;

std::string read(const std::string& section, const std::string& key, const std::string& path) {
    char value[64];
    platform::profile_read_string(section.c_str(), key.c_str(), nullptr, value, sizeof value, path.c_str());
    return value;
}

void put(const std::string& section, const std::string& key, const std::string& value,
         const std::string& path) {
    platform::profile_write_string(section.c_str(), key.c_str(), value.c_str(), path.c_str());
}

std::string file_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

RegistryEntry entry(const std::string& address) {
    return {address, "7", "255.255.0.0", "30", "10.0.0.1", "2"};
}

class Registry : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::string path = dir.file("eqminfo.ini");
};

TEST_F(Registry, MissingFileIsAnEmptyRegistryAndTheFirstEntryIsOne) {
    auto lookup = FindRegistryEntry(path, "10.0.0.5", 20);
    EXPECT_EQ(lookup.total, 0);
    EXPECT_EQ(lookup.index, 1);
    // Garbage or a negative count reads as no entries.
    put("EqmTotal", "EqmTotal", "abc", path);
    EXPECT_EQ(FindRegistryEntry(path, "10.0.0.5", 20).index, 1);
    put("EqmTotal", "EqmTotal", "-4", path);
    EXPECT_EQ(FindRegistryEntry(path, "10.0.0.5", 20).index, 1);
}

TEST_F(Registry, DeviceNumberKeyMatchesWithoutRegardToCase) {
    WriteRegistryEntry(path, 3, entry("10.0.0.3"), devices::kDiscoveryKeyOrder);
    EXPECT_EQ(read("EqmNO", "EqmNO3", path), "7");
    EXPECT_EQ(read("eqmno", "eqmNo3", path), "7");
    put("EqmNO", "EqmNO4", "9", path);
    EXPECT_EQ(read("EqmNO", "EqmNo4", path), "9");
}

TEST_F(Registry, LookupMatchesExactTextsOnlyFirstOneWinsAndStopsAtTheTotal) {
    WriteRegistryEntry(path, 1, entry("10.000.0.5"), devices::kDiscoveryKeyOrder);
    WriteRegistryEntry(path, 2, entry("10.0.0.6"), devices::kDiscoveryKeyOrder);
    WriteRegistryEntry(path, 3, entry("10.0.0.6"), devices::kDiscoveryKeyOrder);
    WriteRegistryEntry(path, 5, entry("10.0.0.7"), devices::kDiscoveryKeyOrder);
    devices::WriteRegistryTotal(path, 3);

    // Leading zeros never match the printed form of the same address.
    EXPECT_EQ(FindRegistryEntry(path, "10.0.0.5", 20).index, 4);
    // Of two entries with one address, the lower index is found.
    EXPECT_EQ(FindRegistryEntry(path, "10.0.0.6", 20).index, 2);
    // An entry beyond "EqmTotal" is not searched.
    auto beyond = FindRegistryEntry(path, "10.0.0.7", 50);
    EXPECT_EQ(beyond.total, 3);
    EXPECT_EQ(beyond.index, 4);
}

TEST_F(Registry, LookupReadsOnlyTheEntriesTheFileHoldsWhateverTheCount) {
    put("EqmTotal", "EqmTotal", "2000000000", path);
    WriteRegistryEntry(path, 7, entry("10.0.0.7"), devices::kDiscoveryKeyOrder);
    put("EqmIP", "eqmip9", "10.0.0.9", path);   // names match without regard to case
    put("EqmIP", "EqmIP05", "10.0.0.5", path);  // not the key of entry 5
    put("EqmIP", "EqmIPx", "10.0.0.6", path);
    EntryLookup found, added, empty, notFive;
    long ms = testing::elapsed_ms([&] {
        found = FindRegistryEntry(path, "10.0.0.9", 20);
        added = FindRegistryEntry(path, "10.0.0.8", 20);
        notFive = FindRegistryEntry(path, "10.0.0.5", 50);
        empty = FindRegistryEntry(path, "", 20);
    });
    EXPECT_LT(ms, 2000);
    EXPECT_EQ(found.index, 9);
    EXPECT_EQ(added.total, 2000000000);
    EXPECT_EQ(added.index, 2000000001);
    EXPECT_EQ(notFive.index, 2000000001);
    // An absent entry reads as the empty text: the first one matches it.
    EXPECT_EQ(empty.index, 1);
    EXPECT_EQ(FindRegistryEntry(path, "10.0.0.7", 20).index, 7);
}

TEST_F(Registry, ValuesAreComparedAsReadIntoTheCallersBufferSize) {
    const std::string longValue(60, '1');
    put("EqmIP", "EqmIP1", longValue, path);
    devices::WriteRegistryTotal(path, 1);
    // Read into 50 bytes the stored value is cut to 49 characters.
    EXPECT_EQ(FindRegistryEntry(path, longValue.substr(0, 49).c_str(), 50).index, 1);
    EXPECT_EQ(FindRegistryEntry(path, longValue.c_str(), 50).index, 2);
}

TEST_F(Registry, WriterFollowsTheKeyOrderItIsGiven) {
    WriteRegistryEntry(path, 1, entry("10.0.0.9"), devices::kSettingsKeyOrder);
    const std::string text = file_text(path);
    // Sections appear in a new file in the order of their first write.
    const char* order[] = {"[EqmNO]", "[EqmIP]", "[EqmTime]", "[EqmImg]", "[EqmNet]", "[EqmGate]"};
    size_t at = 0;
    for (const char* section : order) {
        size_t found = text.find(section);
        ASSERT_NE(found, std::string::npos) << section;
        EXPECT_GT(found + 1, at) << section << " out of order in\n" << text;
        at = found + 1;
    }
    EXPECT_EQ(read("EqmIP", "EqmIP1", path), "10.0.0.9");
    EXPECT_EQ(read("EqmNet", "EqmNet1", path), "255.255.0.0");
    EXPECT_EQ(read("EqmGate", "EqmGate1", path), "10.0.0.1");
    EXPECT_EQ(read("EqmTime", "EqmTime1", path), "30");
    EXPECT_EQ(read("EqmImg", "EqmImg1", path), "2");
    EXPECT_EQ(read("EqmTotal", "EqmTotal", path), "");
}

}  // namespace
}  // namespace doorlink
