#include "convert/ConvertTextToXml.h"

#include "convert/DelimitedText.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using CSVXML::ConversionOptions;

namespace {

std::string convert(std::string_view text, const ConversionOptions& options = {}) {
    CSVXML::StringSink sink;
    CSVXML::ConvertTextToXml(text, options, sink);
    return sink.text;
}

const ConversionOptions kNoRowTags{.useRowTags = false};

struct Case {
    const char* name;
    std::string input;
    ConversionOptions options;
    std::string expected;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class Conversion : public testing::TestWithParam<Case> {};

TEST_P(Conversion, GivesExactText) {
    EXPECT_EQ(convert(GetParam().input, GetParam().options), GetParam().expected);
}

const std::vector<Case> kCases = {
    {"WorkedExample",
     "id,name\r\n1,Ann\r\n2,Bob",
     {},
     "<XML>\r\n <row>\r\n  <id>1</id>\r\n  <name>Ann</name>\r\n </row>\r\n"
     " <row>\r\n  <id>2</id>\r\n  <name>Bob</name>\r\n </row>\r\n</XML>"},
    {"TagsUsedAsTyped",
     "a\r\n1",
     {.rowTag = "", .xmlTag = "my root"},
     "<my root>\r\n <>\r\n  <a>1</a>\r\n </>\r\n</my root>"},
    {"HeaderLineOnly", "a,b", {}, "<XML>\r\n</XML>"},
    {"EmptyText", "", {}, "<XML>\r\n</XML>"},
    {"EmptyFirstLineWithoutHeaderGivesRowTagsOnly",
     "\r\nx,y",
     {.headerRow = false},
     "<XML>\r\n <row>\r\n </row>\r\n <row>\r\n </row>\r\n</XML>"},
    {"SeparatorIsCaseSensitive",
     "aXb\r\n1x2",
     {.separator = "X"},
     "<XML>\r\n <row>\r\n  <a>1x2</a>\r\n  <b></b>\r\n </row>\r\n</XML>"},
    {"EmptySeparatorMakesLineOneValue",
     "a,b\r\n1,2",
     {.separator = ""},
     "<XML>\r\n <row>\r\n  <a_x002C_b>1,2</a_x002C_b>\r\n </row>\r\n</XML>"},
    // Padding, cutting, quotes and escapes within one line: EveryLineFollowsThePlainRules below;
    // quoted line breaks: LineCursor's tests.
    {"QuotedHeaderName", "\"a,b\",c\r\n1,2", kNoRowTags,
     "<XML>\r\n <a_x002C_b>1</a_x002C_b>\r\n <c>2</c>\r\n</XML>"},
    {"QuotedValueWithMultiCharSeparator",
     "a||b\r\n\"1||2\"||3",
     {.separator = "||"},
     "<XML>\r\n <row>\r\n  <a>1||2</a>\r\n  <b>3</b>\r\n </row>\r\n</XML>"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Conversion, testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// The pieces, and the progress as a bar takes it: a percentage per step, 0 at the end.
struct RecordingSink final : CSVXML::ConversionSink, db::Progress {
    void begin() override { events.push_back("begin"); }
    void append(std::string_view xml) override { pieces.emplace_back(xml); }
    void finish() override { events.push_back("finish"); }
    void start(std::int64_t count) override { steps = count; }
    void step(std::int64_t done) override { percents.push_back(percent(done, steps)); }
    void end() override { percents.push_back(0.0f); }
    std::vector<std::string> events;
    std::vector<std::string> pieces;
    std::vector<float> percents;
    std::int64_t steps = 0;
};

TEST(ConversionSink, GetsOnePiecePerRowThenTheClosingTag) {
    RecordingSink sink;
    CSVXML::ConvertTextToXml("id\r\n1\r\n2\r\n3\r\n4", kNoRowTags, sink, sink);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"begin", "finish"}));
    ASSERT_EQ(sink.pieces.size(), 5u);
    EXPECT_EQ(sink.pieces[0], "<XML>\r\n <id>1</id>\r\n");
    EXPECT_EQ(sink.pieces[3], " <id>4</id>\r\n");
    EXPECT_EQ(sink.pieces[4], "</XML>");
    EXPECT_EQ(sink.percents, (std::vector<float>{25.0f, 50.0f, 75.0f, 100.0f, 0.0f}));
    // A bar truncating the percentage shows the figure a person expects: 29, not 28.
    EXPECT_EQ(int(db::Progress::percent(29, 100)), 29);
}

TEST(ConversionLimits, MoreThan32767RowsOrColumnsAreAllWritten) {
    constexpr int kRows = 40000;
    std::string text = "n";
    for (int r = 0; r < kRows; ++r) {
        text += "\r\n" + std::to_string(r);
    }
    RecordingSink sink;
    CSVXML::ConvertTextToXml(text, kNoRowTags, sink, sink);
    ASSERT_EQ(sink.pieces.size(), std::size_t(kRows) + 1);
    EXPECT_EQ(sink.pieces[kRows - 1], " <n>39999</n>\r\n");
    EXPECT_EQ(sink.percents[kRows - 1], 100.0f);

    std::string header;
    std::string row;
    for (int c = 0; c < kRows; ++c) {
        header += (c ? ",c" : "c") + std::to_string(c);
        row += (c ? "," : "") + std::to_string(c);
    }
    const std::string xml = convert(header + "\r\n" + row, kNoRowTags);
    EXPECT_NE(xml.find(" <c39999>39999</c39999>\r\n</XML>"), std::string::npos);
    EXPECT_NE(xml.find(" <c32767>32767</c32767>\r\n"), std::string::npos);
}

// Escaping written out plainly: &, <, > and CR by name or number, and a reference (upper-case
// hex, no leading zeros) for each character that XML 1.0 cannot hold.
std::string escaped(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        const std::string_view rest = value.substr(i);
        char reference[12];
        if (c == '&' || c == '<' || c == '>' || c == '\r') {
            out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : "&#xD;";
        } else if (c < 0x20 && c != '\t' && c != '\n') {
            std::snprintf(reference, sizeof reference, "&#x%X;", unsigned(c));
            out += reference;
        } else if (rest.starts_with("\xEF\xBF\xBE") || rest.starts_with("\xEF\xBF\xBF")) {
            out += rest[2] == '\xBE' ? "&#xFFFE;" : "&#xFFFF;";
            i += 2;
        } else {
            out += char(c);
        }
    }
    return out;
}

// The rules written out plainly: split, unquote, escape, pad, drop.
std::string referenceRow(std::string_view line, std::size_t columns) {
    std::vector<std::string_view> raw;
    CSVXML::splitFields(line, ",", raw);
    std::string out;
    for (std::size_t i = 0; i < columns; ++i) {
        out += " <c" + std::to_string(i) + ">";
        if (i < raw.size()) {
            out += escaped(CSVXML::fieldValue(raw[i]));
        }
        out += "</c" + std::to_string(i) + ">\r\n";
    }
    return out;
}

TEST(XmlConverter, EveryLineFollowsThePlainRules) {
    // Lines of every shape from a small alphabet, long enough to cross 16-byte blocks: the
    // converter's fast paths must agree with the plain rules on each.
    // Control characters, U+FFFE/U+FFFF and their pieces ride along so that the fast path's
    // references and byte counts are checked against the plain ones too.
    using namespace std::string_literals;
    const std::vector<std::string> alphabet = {
        "a",           ",",  "\"",  "<",    "&",    "\r",           "\n",           ">",
        "\x7F",        "\t", "\0"s, "\x01", "\x1F", "\xEF\xBF\xBF", "\xEF\xBF\xBE", "\xEF\xBF",
        "\xEF\xBB\xBF"};
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        const std::size_t length = next() % 40;
        for (std::size_t i = 0; i < length; ++i) {
            line += alphabet[next() % alphabet.size()];
        }
        const std::size_t columns = 1 + next() % 4;
        CSVXML::StringSink sink;
        CSVXML::XmlConverter converter(kNoRowTags, sink);
        std::string header;
        for (std::size_t i = 0; i < columns; ++i) {
            header += (i ? ",c" : "c") + std::to_string(i);
        }
        converter.addLine(header);
        converter.addLine(line);
        converter.finish();
        const std::string expected = referenceRow(line, columns);
        ASSERT_EQ(sink.text, "<XML>\r\n" + expected + "</XML>")
            << "line: " << testing::PrintToString(line);
        std::size_t references = 0;
        for (const char* r : {"&#x0;", "&#x1;", "&#x1F;", "&#xFFFF;", "&#xFFFE;"}) {
            for (auto at = expected.find(r); at != std::string::npos;
                 at = expected.find(r, at + 1)) {
                ++references;
            }
        }
        ASSERT_EQ(converter.refusedCharacters().count, static_cast<std::int64_t>(references))
            << "line: " << testing::PrintToString(line);
    }
}

} // namespace
