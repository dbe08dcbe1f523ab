// The INI text model behind the profile functions on platforms without them.
#include <gtest/gtest.h>

#include "platform/ini/ini_document.h"

namespace doorlink::platform::ini {
namespace {

std::string value_of(const Document& d, const char* section, const char* key) {
    auto v = d.find(section, key);
    return v ? std::string(*v) : std::string("<absent>");
}

TEST(IniDocument, NamesMatchWithoutRegardToCaseAndBlanksAreTrimmed) {
    auto d = Document::parse("[EqmNO]\r\n  EqmNo3 =  17  \r\n[ Other ]\r\nk=v\r\n");
    EXPECT_EQ(value_of(d, "eqmno", "EQMNO3"), "17");
    EXPECT_EQ(value_of(d, "EqmNO", "EqmNO3"), "17");
    EXPECT_EQ(value_of(d, "other", "K"), "v");
    EXPECT_EQ(value_of(d, "EqmNO", "EqmNo4"), "<absent>");
    EXPECT_EQ(value_of(d, "Missing", "k"), "<absent>");
}

TEST(IniDocument, SetReplacesInPlaceKeepingOrderSpellingAndLineEnds) {
    auto d = Document::parse("; comment\r\n[A]\r\nOne=1\r\nTwo=2\r\n\r\n[B]\r\nx=y\r\n");
    d.set("a", "ONE", "uno");
    EXPECT_EQ(d.serialize(), "; comment\r\n[A]\r\nOne=uno\r\nTwo=2\r\n\r\n[B]\r\nx=y\r\n");
}

TEST(IniDocument, NewKeyGoesAfterTheLastLineOfItsSectionAndNewSectionAtTheEnd) {
    auto d = Document::parse("[A]\nOne=1\n\n[B]\nx=y");
    d.set("A", "Two", "2");
    d.set("C", "k", "v");
    EXPECT_EQ(d.serialize(), "[A]\nOne=1\nTwo=2\n\n[B]\nx=y\n[C]\nk=v\n");
}

TEST(IniDocument, EmptyDocumentGrowsByWrites) {
    Document d;
    d.set("EqmTotal", "EqmTotal", "1");
    d.set("EqmIP", "EqmIP1", "127.0.0.2");
    d.set("EqmTotal", "EqmTotal", "2");
    EXPECT_EQ(d.serialize(), "[EqmTotal]\nEqmTotal=2\n[EqmIP]\nEqmIP1=127.0.0.2\n");
}

TEST(IniDocument, FirstOfDuplicateSectionsAndKeysWins) {
    auto d = Document::parse("[A]\nk=1\nk=2\n[a]\nk=3\nz=4\n");
    EXPECT_EQ(value_of(d, "A", "k"), "1");
    EXPECT_EQ(value_of(d, "A", "z"), "<absent>");
    d.set("A", "k", "9");
    EXPECT_EQ(d.serialize(), "[A]\nk=9\nk=2\n[a]\nk=3\nz=4\n");
}

TEST(IniDocument, CommentsAndLinesWithoutEqualsNeverMatch) {
    auto d = Document::parse("[A]\n;k=1\nk\nk2=\n");
    EXPECT_EQ(value_of(d, "A", ";k"), "<absent>");
    EXPECT_EQ(value_of(d, "A", "k"), "<absent>");
    EXPECT_EQ(value_of(d, "A", "k2"), "");
}

TEST(IniValues, QuotesAndLeadingNumbers) {
    EXPECT_EQ(strip_quotes("\"a b\""), "a b");
    EXPECT_EQ(strip_quotes("'x'"), "x");
    EXPECT_EQ(strip_quotes("\"x'"), "\"x'");
    EXPECT_EQ(strip_quotes("\""), "\"");
    EXPECT_EQ(parse_leading_int("  42abc"), 42);
    EXPECT_EQ(parse_leading_int("-7"), -7);
    EXPECT_EQ(parse_leading_int("abc"), 0);
    EXPECT_EQ(parse_leading_int("+12"), 12);
    // Base prefixes, in lower case only, as the platform reads them.
    EXPECT_EQ(parse_leading_int("0x1f"), 31);
    EXPECT_EQ(parse_leading_int("-0x10"), -16);
    EXPECT_EQ(parse_leading_int("0X1f"), 0);
    EXPECT_EQ(parse_leading_int("0o17"), 15);
    EXPECT_EQ(parse_leading_int("0b1012"), 5);
    EXPECT_EQ(parse_leading_int("0x"), 0);
    EXPECT_EQ(parse_leading_int("08"), 8);
    EXPECT_EQ(parse_leading_int("4294967297"), 1);  // wraps at 32 bits
}

}  // namespace
}  // namespace doorlink::platform::ini
