// A batch of profile writes gives the same file as the writes one by one.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/ini/ini_document.h"
#include "platform/profile.h"
#include "support/temp_dir.h"

namespace doorlink::platform {
namespace {

const char* kExisting = "; kept\n[CardNo]\nCardNo1=old\n\n[Other]\nx=1\n[cardno]\nCardNo9=second section\n";

std::vector<ini::Setting> batch() {
    return {{"CardNo", "CardNo2", "b"}, {"New", "k1", "v1"},        {"CARDNO", "cardno1", "new"},
            {"Other", "y", "2"},        {"new", "K2", "v2"},        {"CardNo", "CardNo2", "b again"},
            {"Third", "z", ""},         {"Other", "X", "replaced"}, {" New ", " k1 ", "v1 again"}};
}

TEST(ProfileBatch, SameDocumentAsOneWriteAtATime) {
    ini::Document oneByOne = ini::Document::parse(kExisting);
    for (const auto& s : batch()) oneByOne.set(s.section, s.key, s.value);
    ini::Document together = ini::Document::parse(kExisting);
    together.set_all(batch());
    EXPECT_EQ(together.serialize(), oneByOne.serialize());
    EXPECT_EQ(together.find("cardno", "CARDNO2").value_or("?"), "b again");
    EXPECT_EQ(together.find("new", "k1").value_or("?"), "v1 again");

    ini::Document empty;
    empty.set_all(batch());
    ini::Document emptyOneByOne;
    for (const auto& s : batch()) emptyOneByOne.set(s.section, s.key, s.value);
    EXPECT_EQ(empty.serialize(), emptyOneByOne.serialize());
}

TEST(ProfileBatch, WritesTheFileOnce) {
    testing::TempDir dir;
    const std::string path = dir.file("batch.ini");
    std::ofstream(path) << kExisting;
    std::vector<ProfileWrite> writes;
    std::vector<std::string> texts;  // the texts live until the call
    texts.reserve(batch().size() * 3);
    for (const auto& s : batch()) {
        texts.emplace_back(s.section);
        const char* section = texts.back().c_str();
        texts.emplace_back(s.key);
        const char* key = texts.back().c_str();
        texts.emplace_back(s.value);
        writes.push_back({section, key, texts.back().c_str()});
    }
    ASSERT_TRUE(profile_write_strings(writes.data(), writes.size(), path.c_str()));
    ini::Document expected = ini::Document::parse(kExisting);
    for (const auto& s : batch()) expected.set(s.section, s.key, s.value);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), expected.serialize());
    char value[32];
    profile_read_string("cardno", "cardno2", "", value, sizeof value, path.c_str());
    EXPECT_STREQ(value, "b again");
    ProfileWrite bad = {"s", nullptr, "v"};
    EXPECT_FALSE(profile_write_strings(&bad, 1, path.c_str()));
}

}  // namespace
}  // namespace doorlink::platform
