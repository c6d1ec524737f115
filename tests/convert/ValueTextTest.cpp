#include "convert/ValueText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace {

template <typename F>
std::string text(F&& f) {
    std::string out;
    f(out);
    return out;
}

TEST(ValueText, IntegersArePlainDecimal) {
    EXPECT_EQ(text([](auto& o) { ValueText::appendInteger(o, 0); }), "0");
    EXPECT_EQ(text([](auto& o) { ValueText::appendInteger(o, -42); }), "-42");
    EXPECT_EQ(text([](auto& o) {
                  ValueText::appendInteger(o, std::numeric_limits<std::int64_t>::min());
              }),
              "-9223372036854775808");
}

TEST(ValueText, FloatsAreShortestRoundTrip) {
    for (const double v : {0.1, 1.0 / 3.0, 1e20, -2.5, 5e-324, 1.7976931348623157e308}) {
        const std::string s = text([v](auto& o) { ValueText::appendDouble(o, v); });
        EXPECT_EQ(std::strtod(s.c_str(), nullptr), v) << s;
    }
    EXPECT_EQ(text([](auto& o) { ValueText::appendDouble(o, 0.1); }), "0.1");
    EXPECT_EQ(text([](auto& o) { ValueText::appendFloat(o, 0.1f); }), "0.1");
    EXPECT_EQ(text([](auto& o) { ValueText::appendDouble(o, 3.0); }), "3");
}

TEST(ValueText, DatesAndTimesAreIsoWithTheTypesFraction) {
    EXPECT_EQ(text([](auto& o) { ValueText::appendDate(o, 1, 2, 3); }), "0001-02-03");
    EXPECT_EQ(text([](auto& o) {
                  ValueText::appendDateTime(o, 2024, 2, 29, 23, 59, 58, 123'456'700, 7);
              }),
              "2024-02-29T23:59:58.1234567");
    EXPECT_EQ(text([](auto& o) { ValueText::appendDateTime(o, 2024, 1, 2, 3, 4, 5, 0, 0); }),
              "2024-01-02T03:04:05");
    // datetime keeps 1/300 s: .997 arrives as 996'666'667 ns and must not read .996.
    EXPECT_EQ(text([](auto& o) {
                  ValueText::appendDateTime(o, 2024, 1, 2, 3, 4, 5, 996'666'667, 3, true);
              }),
              "2024-01-02T03:04:05.997");
    EXPECT_EQ(text([](auto& o) {
                  ValueText::appendDateTime(o, 2024, 1, 2, 3, 4, 5, 999'999'999, 3, true);
              }),
              "2024-01-02T03:04:05.999");
    EXPECT_EQ(text([](auto& o) { ValueText::appendTime(o, 7, 8, 9, 500'000'000, 1); }),
              "07:08:09.5");
    // Parts outside the types' ranges are written whole, never cut to their width.
    EXPECT_EQ(text([](auto& o) { ValueText::appendDate(o, 12345, 123, -1); }), "12345-123--1");
    EXPECT_EQ(text([](auto& o) { ValueText::appendTime(o, 1, 2, 3, 2'000'000'000u, 2); }),
              "01:02:03.200");
}

TEST(ValueText, DecimalsHaveADigitBeforeThePoint) {
    EXPECT_EQ(text([](auto& o) { ValueText::appendDecimal(o, "-12.50"); }), "-12.50");
    EXPECT_EQ(text([](auto& o) { ValueText::appendDecimal(o, ".5000"); }), "0.5000");
    EXPECT_EQ(text([](auto& o) { ValueText::appendDecimal(o, "-.5"); }), "-0.5");
    EXPECT_EQ(text([](auto& o) { ValueText::appendDecimal(o, "7"); }), "7");
}

TEST(ValueText, BinaryIsBase64) {
    EXPECT_EQ(text([](auto& o) { ValueText::appendBase64(o, ""); }), "");
    EXPECT_EQ(text([](auto& o) { ValueText::appendBase64(o, "f"); }), "Zg==");
    EXPECT_EQ(text([](auto& o) { ValueText::appendBase64(o, "fo"); }), "Zm8=");
    EXPECT_EQ(text([](auto& o) { ValueText::appendBase64(o, "foo"); }), "Zm9v");
    EXPECT_EQ(
        text([](auto& o) { ValueText::appendBase64(o, std::string_view("\xff\x00\xfe", 3)); }),
        "/wD+");
    // Appended after what the line already holds.
    std::string line = "a,";
    ValueText::appendBase64(line, "fo");
    EXPECT_EQ(line, "a,Zm8=");
}

} // namespace
