#include "convert/XmlName.h"

#include <gtest/gtest.h>
#include <utility>

namespace {

TEST(XmlName, IsEncodedLikeForXml) {
    const std::pair<const char*, const char*> names[] = {
        {"id", "id"},
        {"First Name", "First_x0020_Name"},
        {"1st", "_x0031_st"},
        {"", "_"},
        {"a-b.c_d9", "a-b.c_d9"},
        {"-a", "_x002D_a"},
        {".a", "_x002E_a"},
        {"a:b", "a_x003A_b"},
        {"a<b>&", "a_x003C_b_x003E__x0026_"},
        {"x]y\"z", "x_x005D_y_x0022_z"},
        {"_x0041_", "_x005F_x0041_"},
        {"_x41_", "_x41_"},
        {"Größe", "Größe"},
        {"名前", "名前"},
        {"a·b", "a·b"},                           // middle dot: name char only
        {"\xC2\xB7", "_x00B7_"},                  // ... not a start char
        {"\xF3\xB0\x80\x80", "_xDB80__xDC00_"},   // U+F0000: two code units
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}, // U+1F600 is allowed
        {"a\xFF\x62", "a_x00FF_b"}};              // malformed byte kept
    for (const auto& [input, expected] : names) {
        EXPECT_EQ(CSVXML::encodeXmlName(input), expected) << '"' << input << '"';
    }
}

// The tags are written as typed; this says whether a reader takes them.
TEST(XmlName, TagIsAnXmlNameOnlyWhereEveryReaderTakesIt) {
    for (const char* good : {"row", "_", "Größe", "a-b.c_d9", "名前", "\xF0\x9F\x98\x80"}) {
        EXPECT_TRUE(CSVXML::isXmlName(good)) << good;
    }
    for (const char* bad : {"", "my row", "1st", "-a", "a:b", "a<b", "row\t",
                            "\xC2\xB7"
                            "a",
                            "a\xFF", "a\xC3"}) {
        EXPECT_FALSE(CSVXML::isXmlName(bad)) << bad;
    }
}

} // namespace
