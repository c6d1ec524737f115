#include "convert/DelimitedText.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines(std::string_view text) {
    std::vector<std::string> out;
    CSVXML::LineCursor cursor(text);
    for (std::string_view line; cursor.next(line);) {
        out.emplace_back(line);
    }
    EXPECT_EQ(CSVXML::countLines(text), std::int64_t(out.size()));
    return out;
}

std::vector<std::string> fields(std::string_view line, std::string_view separator = ",") {
    std::vector<std::string_view> views;
    CSVXML::splitFields(line, separator, views);
    return {views.begin(), views.end()};
}

using Strings = std::vector<std::string>;

TEST(LineCursor, CutsOnlyAtCrLfOutsideQuotes) {
    EXPECT_EQ(lines(""), Strings{});
    EXPECT_EQ(lines("a"), Strings{"a"});
    EXPECT_EQ(lines("a\r\n"), (Strings{"a", ""}));
    EXPECT_EQ(lines("\r\n\r\n"), (Strings{"", "", ""}));
    EXPECT_EQ(lines("a\rb\nc\r\nd"), (Strings{"a\rb\nc", "d"}));
    EXPECT_EQ(lines("a\r\r\nb"), (Strings{"a\r", "b"}));
    EXPECT_EQ(lines("\"a\r\nb\",c\r\nd"), (Strings{"\"a\r\nb\",c", "d"}));
    EXPECT_EQ(lines("\"\"\r\n\"x\"\"\r\n\"\r\ny"), (Strings{"\"\"", "\"x\"\"\r\n\"", "y"}));
    // An unbalanced quote keeps the rest of the text in its line rather than losing it.
    EXPECT_EQ(lines("a\"\r\nb\r\nc"), (Strings{"a\"\r\nb\r\nc"}));
}

// An empty line has no field at all: the conversion's EmptyFirstLineWithoutHeaderGivesRowTagsOnly.
TEST(SplitFields, PlainTextSplitsAtEveryOccurrence) {
    EXPECT_EQ(fields("abc"), Strings{"abc"});
    EXPECT_EQ(fields(","), (Strings{"", ""}));
    EXPECT_EQ(fields("a,,b,"), (Strings{"a", "", "b", ""}));
    EXPECT_EQ(fields("a--b---c", "--"), (Strings{"a", "b", "-c"}));
    EXPECT_EQ(fields("a,b", ""), Strings{"a,b"});
}

// Quoted fields: XmlConverter.EveryLineFollowsThePlainRules, and the conversion's
// QuotedValueWithMultiCharSeparator; a stray quote, which the converter leaves to this function:
TEST(SplitFields, SeparatorInsideQuotesDoesNotCut) {
    EXPECT_EQ(fields("x\"y,z"), Strings{"x\"y,z"});
}

// Whole quoted fields of every shape are checked against the converter's own unquoting by
// XmlConverter.EveryLineFollowsThePlainRules; these are the fields it leaves to this function.
TEST(FieldValue, UnquotesOnlyWholeQuotedFields) {
    EXPECT_EQ(CSVXML::fieldValue("\"say \"\"hi\"\"\""), "say \"hi\"");
    EXPECT_EQ(CSVXML::fieldValue("\""), "\"");
    EXPECT_EQ(CSVXML::fieldValue("a\"b\""), "a\"b\"");
}

} // namespace
