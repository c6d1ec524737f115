#include "convert/XmlSize.h"

#include "convert/AvailableMemory.h"
#include "convert/ConvertTextToXml.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

// The measure is what the conversion writes, byte for byte and line for line, whatever the
// options: a measure that drifts from it would let a preview start that does not fit.
TEST(XmlSize, MeasureIsWhatTheConversionWrites) {
    const std::string text = "id,name\r\n1,\"a,b\"\"c\"\r\n2,x&y<z\r\n3,\"two\r\nlines\"\r\n4";
    using Options = CSVXML::ConversionOptions;
    for (const Options& options :
         {Options{}, Options{.useRowTags = false}, Options{.separator = "a", .headerRow = false}}) {
        CSVXML::StringSink sink;
        CSVXML::ConvertTextToXml(text, options, sink);
        const CSVXML::XmlSize size = CSVXML::MeasureXml(text, options);
        EXPECT_EQ(size.bytes, sink.text.size());
        EXPECT_EQ(size.lineBreaks,
                  static_cast<std::uint64_t>(std::count(sink.text.begin(), sink.text.end(), '\n')));
        EXPECT_EQ(size.rows, options.headerRow ? 4 : 5);

        // Fed line by line, as an extraction gives them, the count is the same.
        CSVXML::XmlMeasure measure(options);
        for (const char* line : {"id,name", "1,\"a,b\"\"c\"", "2,x&y<z", "3,\"two\r\nlines\"", "4"})
            measure.addLine(line);
        const CSVXML::XmlSize streamed = measure.finish();
        EXPECT_EQ(streamed.bytes, size.bytes);
        EXPECT_EQ(streamed.lineBreaks, size.lineBreaks);
        EXPECT_EQ(streamed.rows, size.rows);
    }
}

TEST(AvailableMemory, ReadsMemAvailableInKibibytesAndNothingWithoutIt) {
    const std::string path = testing::TempDir() + "meminfo";
    {
        std::ofstream(path) << "MemTotal:       16000000 kB\nMemFree:         1000 kB\n"
                               "MemAvailable:    8000000 kB\nBuffers:  1 kB\n";
    }
    const std::optional<std::uint64_t> available = CSVXML::availableMemory(path);
    ASSERT_TRUE(available.has_value());
    // A memory cgroup may allow less; never more.
    EXPECT_LE(*available, std::uint64_t{8000000} * 1024);
    EXPECT_GT(*available, 0u);
    { std::ofstream(path) << "MemTotal:       16000000 kB\nMemFree:         1000 kB\n"; }
    EXPECT_FALSE(CSVXML::availableMemory(path).has_value());
    EXPECT_FALSE(CSVXML::availableMemory(path + ".missing").has_value());
    std::remove(path.c_str());
}

} // namespace
