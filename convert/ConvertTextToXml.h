#pragma once

#include "ConversionOptions.h"
#include "db/Progress.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace CSVXML {

// Where the XML goes. The preview page, the command line and the tests each implement it.
class ConversionSink {
public:
    virtual ~ConversionSink() = default;
    // A run starts: whatever an earlier run left is to be emptied.
    virtual void begin() {}
    // The XML text of one row (the first one begins with the opening line), and last the
    // closing tag. Appended in order, the pieces are the whole XML text.
    virtual void append(std::string_view xml) = 0;
    // The run has ended; nothing more follows.
    virtual void finish() {}
};

// The characters that XML 1.0 cannot hold at all (U+0000-U+0008, U+000B, U+000C, U+000E-U+001F,
// U+FFFE, U+FFFF). They are written as character references, so nothing is lost, but strict
// readers still refuse the file: callers warn about them.
struct RefusedCharacters {
    std::int64_t count = 0;
    std::int64_t firstRow = 0; // 1-based among the rows written; 0 when there is none
    std::string firstColumn;   // the column's name as the header gives it (or headerN)
};

// Turns delimited text into XML one line at a time, so that a caller can stream lines from a
// database or a file without holding the whole text. Every line must be a whole record: a line
// break inside a quoted field belongs to the line.
class XmlConverter {
public:
    // `progress` steps after each row when the number of rows is known, and is served after
    // every row.
    XmlConverter(const ConversionOptions& options, ConversionSink& sink,
                 db::Progress& progress = db::noProgress());

    // The number of rows to come, which starts the progress; 0 (the default) when unknown.
    void setRowCount(std::int64_t rows) {
        rowCount_ = rows;
        progress_.start(rows);
    }
    void addLine(std::string_view line);
    // A data line whose values at the true positions of `nulls` are NULL (positions past its end
    // are not); written in the options' NullForm. The column names' line takes no NULLs.
    void addLine(std::string_view line, const std::vector<bool>& nulls);
    // Writes the closing tag (and the opening line when no row came) and ends the sink's run,
    // then the progress.
    void finish();

    const RefusedCharacters& refusedCharacters() const { return refused_; }

private:
    void noteRefused(std::size_t column);
    void takeColumnNames(std::string_view line);
    void writeRow(std::string_view line);
    void writeRowWithNulls(std::string_view line, const std::vector<bool>& nulls);
    void appendRow(char* start, char* end);
    char* reserve(std::size_t bytes);
    char* putRowFast(char* out, std::string_view line);
    char* putJoint(char* out, std::size_t index) const;

    const ConversionOptions& options_;
    ConversionSink& sink_;
    db::Progress& progress_;
    bool namesKnown_ = false;
    bool openingWritten_ = false;
    std::int64_t rowCount_ = 0;
    std::int64_t rowsWritten_ = 0;
    std::vector<std::string> columnNames_;
    RefusedCharacters refused_;
    std::int64_t rowRefused_ = 0;
    std::size_t rowFirstColumn_ = 0;
    std::string opening_;
    std::string rowOpen_;
    std::string rowClose_;
    std::size_t fixedRowBytes_ = 0; // all of it, for one row
    std::vector<std::string_view> fields_;
    // For rows with NULLs in the Omit and Nil forms: each column's own tags.
    std::vector<std::string> columnOpen_;
    std::vector<std::string> columnClose_;
    std::vector<std::string> columnNil_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    bool fastPath_ = false;
    char separator_ = ',';
    std::array<unsigned char, 256> fastClass_{};
#if defined(__SSE2__)
    __m128i sepBlock_{};
#endif
    struct Span {
        const char* data;
        std::size_t size;
    };
    std::vector<char> jointArena_;
    std::vector<Span> spans_;
};

// The rows among `lines` lines of delimited text: all of them, or all but the column names'.
inline std::int64_t dataRows(std::int64_t lines, const ConversionOptions& options) {
    return options.headerRow ? (lines > 0 ? lines - 1 : 0) : lines;
}

// Converts a whole delimited text (lines separated by CR LF) into XML text: the opening line,
// one element per value, optionally inside a row element per row, and the closing tag with no
// line break after it. Values are escaped (&, <, >, and CR as a character reference so that it
// survives a parser's line-end handling; the characters XML 1.0 cannot hold as references too);
// column names are made valid XML names.
RefusedCharacters ConvertTextToXml(std::string_view text, const ConversionOptions& options,
                                   ConversionSink& sink, db::Progress& progress = db::noProgress());

// A text of `count` spaces; empty for 0 or less.
std::string Indent(std::int64_t count);

// A sink that gathers the whole XML text in one string.
class StringSink final : public ConversionSink {
public:
    void begin() override { text.clear(); }
    void append(std::string_view xml) override { text.append(xml); }
    std::string text;
};

} // namespace CSVXML
