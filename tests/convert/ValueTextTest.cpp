#include "convert/ValueText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <type_traits>

namespace {

// What one append call adds to an empty line.
template <typename... Args>
std::string text(void (*append)(std::string&, Args...), std::type_identity_t<Args>... args) {
    std::string out;
    append(out, args...);
    return out;
}

using namespace ValueText;

// The shortest text of common values, 0.1 among them: ExtractTableText's tests.
TEST(ValueText, FloatsAreShortestRoundTrip) {
    for (const double v : {0.1, 1.0 / 3.0, 1e20, -2.5, 5e-324, 1.7976931348623157e308}) {
        const std::string s = text(appendDouble, v);
        EXPECT_EQ(std::strtod(s.c_str(), nullptr), v) << s;
    }
    EXPECT_EQ(text(appendDouble, 3.0), "3");
}

// Padded dates and the zero-digit fraction: ExtractTableText's tests.
TEST(ValueText, DatesAndTimesAreIsoWithTheTypesFraction) {
    // datetime keeps 1/300 s: .997 arrives as 996'666'667 ns and must not read .996.
    EXPECT_EQ(text(appendDateTime, 2024, 1, 2, 3, 4, 5, 996'666'667, 3, true),
              "2024-01-02T03:04:05.997");
    EXPECT_EQ(text(appendDateTime, 2024, 2, 29, 23, 59, 58, 123'456'700, 7, false),
              "2024-02-29T23:59:58.1234567");
    EXPECT_EQ(text(appendDateTime, 2024, 1, 2, 3, 4, 5, 999'999'999, 3, true),
              "2024-01-02T03:04:05.999");
    EXPECT_EQ(text(appendDateTime, 2024, 1, 2, 7, 8, 9, 500'000'000, 1, false),
              "2024-01-02T07:08:09.5");
    // Parts outside the types' ranges are written whole, never cut to their width.
    EXPECT_EQ(text(appendDate, 12345, 123, -1), "12345-123--1");
    EXPECT_EQ(text(appendDateTime, 2024, 1, 2, 1, 2, 3, 2'000'000'000u, 2, false),
              "2024-01-02T01:02:03.200");
}

// The driver's date and time text in xs:dateTime form: its fraction cut or padded to the digits
// asked for, a short year padded, an offset kept without the blank; any other text is left alone.
TEST(ValueText, DriverDateTimesTakeTheXmlForm) {
    const auto form = [](std::string_view driver, int digits) {
        std::string out = "<";
        return ValueText::appendDriverDateTime(out, driver, digits) ? out : "not: " + out;
    };
    EXPECT_EQ(form("2024-02-29 13:45:07.123 +01:30", 3), "<2024-02-29T13:45:07.123+01:30");
    EXPECT_EQ(form("2024-02-29 13:45:07.1234567 -05:00", 3), "<2024-02-29T13:45:07.123-05:00");
    EXPECT_EQ(form("2024-02-29 13:45:07.5 +00:00", 7), "<2024-02-29T13:45:07.5000000+00:00");
    EXPECT_EQ(form("2024-02-29 13:45:07 +14:00", 0), "<2024-02-29T13:45:07+14:00");
    EXPECT_EQ(form("2024-02-29 13:45:07.99 +14:00", 0), "<2024-02-29T13:45:07+14:00");
    EXPECT_EQ(form("1-01-01 00:00:00 -14:00", 0), "<0001-01-01T00:00:00-14:00");
    EXPECT_EQ(form("2024-02-29 13:45:07.25", -1), "<2024-02-29T13:45:07.25");
    EXPECT_EQ(form("2024-02-29 13:45:07", -1), "<2024-02-29T13:45:07");
    for (const char* other :
         {"", "2024-02-29", "13:45:07", "2024-02-29 13:45", "text", "2024-02-29 13:45:07 +1:00",
          "2024-02-29 13:45:07 x", "20245-02-29 13:45:07", "2024-02-29 13:45:07.5 +01:00 "}) {
        EXPECT_EQ(form(other, 3), "not: <") << other;
    }
}

TEST(ValueText, DecimalsHaveADigitBeforeThePoint) {
    EXPECT_EQ(text(appendDecimal, "-12.50"), "-12.50");
    EXPECT_EQ(text(appendDecimal, ".5000"), "0.5000");
    EXPECT_EQ(text(appendDecimal, "-.5"), "-0.5");
    EXPECT_EQ(text(appendDecimal, "7"), "7");
}

// Every length's padding and the empty value come through the extraction's own tests; these
// bytes give the two characters of the alphabet beyond letters and digits.
TEST(ValueText, BinaryIsBase64) {
    EXPECT_EQ(text(appendBase64, std::string_view("\xff\x00\xfe\xfb\xff", 5)), "/wD++/8=");
}

// ASCII runs go eight units at a time: a character of any width or a lone half at each place
// of a run, and at its end, is written whole, and each lone half counts once.
TEST(ValueText, WideTextIsUtf8WithLoneHalvesReplaced) {
    const struct {
        std::u16string_view wide;
        std::string_view utf8;
    } cases[] = {{u"\u00e9", "\xc3\xa9"},
                 {u"\u20ac", "\xe2\x82\xac"},
                 {u"\U0001F600", "\xf0\x9f\x98\x80"},
                 {u"\xD800", "\xef\xbf\xbd"},
                 {u"\xDC00", "\xef\xbf\xbd"}};
    for (const auto& c : cases) {
        for (std::size_t at = 0; at <= 9; ++at) {
            std::u16string wide(9, u'a');
            wide.insert(at, c.wide);
            std::string expected(9, 'a');
            expected.insert(at, c.utf8);
            std::string out = "x";
            const bool lone = c.wide.size() == 1 && c.wide[0] >= 0xD800 && c.wide[0] <= 0xDFFF;
            EXPECT_EQ(appendUtf8(out, wide), lone ? 1 : 0);
            EXPECT_EQ(out, "x" + expected) << at;
        }
    }
    // A low half before a high one is no pair: two replacements.
    std::string out;
    EXPECT_EQ(appendUtf8(out, u"\xDC00\xD800"), 2);
    EXPECT_EQ(out, "\xef\xbf\xbd\xef\xbf\xbd");
}

} // namespace
