#include "convert/XmlName.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const char* input;
    const char* expected;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << '"' << c.input << '"';
}

class XmlName : public testing::TestWithParam<NameCase> {};

TEST_P(XmlName, IsEncodedLikeForXml) {
    EXPECT_EQ(CSVXML::encodeXmlName(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, XmlName,
    testing::Values(NameCase{"id", "id"}, NameCase{"First Name", "First_x0020_Name"},
                    NameCase{"1st", "_x0031_st"}, NameCase{"", "_"},
                    NameCase{"a-b.c_d9", "a-b.c_d9"}, NameCase{"-a", "_x002D_a"},
                    NameCase{".a", "_x002E_a"}, NameCase{"a:b", "a_x003A_b"},
                    NameCase{"a<b>&", "a_x003C_b_x003E__x0026_"},
                    NameCase{"_x0041_", "_x005F_x0041_"}, NameCase{"_x41_", "_x41_"},
                    NameCase{"Größe", "Größe"}, NameCase{"名前", "名前"},
                    NameCase{"a\xC2\xB7"
                             "b",
                             "a\xC2\xB7"
                             "b"},                                    // middle dot: name char only
                    NameCase{"\xC2\xB7", "_x00B7_"},                  // ... not a start char
                    NameCase{"\xF3\xB0\x80\x80", "_xDB80__xDC00_"},   // U+F0000: two code units
                    NameCase{"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}, // U+1F600 is allowed
                    NameCase{"a\xFF"
                             "b",
                             "a_x00FF_b"})); // malformed byte kept

} // namespace
