#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Splitting of delimited text that may quote its fields the RFC 4180 way. Text without any '"'
// splits exactly at every delimiter.
namespace CSVXML {

// Walks `text` line by line, holding nothing but its place. A line ends at every CR LF that
// stands outside quotes: where the number of '"' seen since the line began is even. A lone CR or
// LF stays inside its line. An empty text gives no lines; k line breaks give k + 1 lines, empty
// ones included.
class LineCursor {
public:
    explicit LineCursor(std::string_view text);
    // The next line, or false when there is none.
    bool next(std::string_view& line);

private:
    void findQuote(const char* from);

    const char* pos_;
    const char* end_;
    const char* nextQuote_ = nullptr;
    bool done_;
};

// The number of lines a LineCursor gives.
std::int64_t countLines(std::string_view text);

// Cuts a line into raw fields at every occurrence of `separator` where the number of '"' in the
// field so far is even. An empty line gives no fields; an empty separator gives the whole line as
// one field. Fields keep their quotes: see appendFieldValue.
void splitFields(std::string_view line, std::string_view separator,
                 std::vector<std::string_view>& fields);

// The value a raw field stands for: a field that begins and ends with '"' and is at least two
// characters long loses those quotes, and each '""' inside becomes '"'. Any other field is its
// own value.
std::string fieldValue(std::string_view field);

// The line break between the lines of delimited text.
inline constexpr std::string_view kLineBreak = "\r\n";

// Quotes a value for delimited text when it holds ',', '"', CR or LF (each '"' doubled), in
// place: what `line` holds from `start` on, the value just appended.
void quoteFieldFrom(std::string& line, std::size_t start);

} // namespace CSVXML
