#include "DelimitedText.h"

#include <algorithm>
#include <cstring>

namespace CSVXML {

LineCursor::LineCursor(std::string_view text)
    : pos_(text.data()), end_(text.data() + text.size()), done_(text.empty()) {
    findQuote(pos_);
}

void LineCursor::findQuote(const char* from) {
    nextQuote_ = from < end_ ? static_cast<const char*>(
                                   std::memchr(from, '"', static_cast<std::size_t>(end_ - from)))
                             : nullptr;
    if (nextQuote_ == nullptr) {
        nextQuote_ = end_;
    }
}

bool LineCursor::next(std::string_view& line) {
    if (done_) {
        return false;
    }
    const char* const lineStart = pos_;
    const char* scan = pos_;
    bool inQuotes = false; // an odd number of '"' since lineStart
    while (scan < end_) {
        const auto* cr = static_cast<const char*>(
            std::memchr(scan, '\r', static_cast<std::size_t>(end_ - scan)));
        if (cr == nullptr) {
            break;
        }
        // Quotes between scan and cr flip the state; most text has none, so skip the count
        // while the next quote lies beyond the line break.
        while (nextQuote_ < cr) {
            inQuotes = !inQuotes;
            findQuote(nextQuote_ + 1);
        }
        if (cr + 1 < end_ && cr[1] == '\n' && !inQuotes) {
            line = std::string_view(lineStart, static_cast<std::size_t>(cr - lineStart));
            pos_ = cr + 2;
            return true;
        }
        scan = cr + 1;
    }
    line = std::string_view(lineStart, static_cast<std::size_t>(end_ - lineStart));
    pos_ = end_;
    done_ = true;
    return true;
}

std::int64_t countLines(std::string_view text) {
    LineCursor cursor(text);
    std::string_view line;
    std::int64_t count = 0;
    while (cursor.next(line)) {
        ++count;
    }
    return count;
}

void splitFields(std::string_view line, std::string_view separator,
                 std::vector<std::string_view>& fields) {
    fields.clear();
    if (line.empty()) {
        return;
    }
    if (separator.empty()) {
        fields.push_back(line);
        return;
    }
    const bool quoted = line.find('"') != std::string_view::npos;
    std::size_t fieldStart = 0;
    if (!quoted) {
        // Plain text: cut at every occurrence.
        if (separator.size() == 1) {
            const char sep = separator.front();
            const char* const data = line.data();
            const std::size_t size = line.size();
            std::size_t pos = 0;
            while (true) {
                const auto* hit =
                    static_cast<const char*>(std::memchr(data + pos, sep, size - pos));
                if (hit == nullptr) {
                    break;
                }
                const auto at = static_cast<std::size_t>(hit - data);
                fields.emplace_back(data + fieldStart, at - fieldStart);
                fieldStart = pos = at + 1;
            }
        } else {
            std::size_t at = 0;
            while ((at = line.find(separator, fieldStart)) != std::string_view::npos) {
                fields.push_back(line.substr(fieldStart, at - fieldStart));
                fieldStart = at + separator.size();
            }
        }
        fields.push_back(line.substr(fieldStart));
        return;
    }
    // Quote-aware: a separator counts only where the field so far holds an even number of '"'.
    std::size_t quotes = 0;
    std::size_t pos = 0;
    const char first = separator.front();
    while (pos < line.size()) {
        if (line[pos] == first && quotes % 2 == 0 &&
            line.compare(pos, separator.size(), separator) == 0) {
            fields.push_back(line.substr(fieldStart, pos - fieldStart));
            pos += separator.size();
            fieldStart = pos;
            quotes = 0;
            continue;
        }
        if (line[pos] == '"') {
            ++quotes;
        }
        ++pos;
    }
    fields.push_back(line.substr(fieldStart));
}

std::string fieldValue(std::string_view field) {
    if (field.size() < 2 || field.front() != '"' || field.back() != '"') {
        return std::string(field);
    }
    const std::string_view inner = field.substr(1, field.size() - 2);
    std::string value;
    value.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
        value.push_back(inner[i]);
        if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') {
            ++i;
        }
    }
    return value;
}

namespace {

bool needsQuoteByte(char c) {
    return c == ',' || c == '"' || c == '\r' || c == '\n';
}

} // namespace

void quoteFieldFrom(std::string& line, std::size_t start) {
    // Runs for every text value of every row of an extraction: one look at each byte, and the
    // quoting done in place from the back, with no copy of the value.
    const char* p = line.data() + start;
    const char* const end = line.data() + line.size();
    while (p != end && !needsQuoteByte(*p)) {
        ++p;
    }
    if (p == end) {
        return;
    }
    // Most values that need quotes hold a separator or a line break, not a quote.
    const auto quotes = std::memchr(p, '"', static_cast<std::size_t>(end - p)) == nullptr
                            ? std::size_t(0)
                            : static_cast<std::size_t>(std::count(p, end, '"'));
    const std::size_t oldSize = line.size();
    line.resize(oldSize + quotes + 2);
    char* const base = line.data() + start;
    char* from = line.data() + oldSize;
    char* to = line.data() + line.size();
    *--to = '"';
    for (std::size_t pending = quotes; pending > 0;) {
        const char c = *--from;
        *--to = c;
        if (c == '"') {
            *--to = '"';
            --pending;
        }
    }
    // What lies before the first quote moves up by one, for the opening quote.
    std::memmove(base + 1, base, static_cast<std::size_t>(from - base));
    *base = '"';
}

} // namespace CSVXML
