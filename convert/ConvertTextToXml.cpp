#include "ConvertTextToXml.h"

#include "DelimitedText.h"
#include "XmlName.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace CSVXML {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// What a byte needs on its way into element text: 0 nothing, 1 an escape, 2 a look at the next
// byte (a doubled quote inside a quoted field).
enum : unsigned char { kPlain = 0, kEscape = 1, kQuote = 2, kSeparator = 3 };
constexpr std::array<unsigned char, 256> kByteClass = [] {
    std::array<unsigned char, 256> table{};
    table['&'] = table['<'] = table['>'] = table['\r'] = kEscape;
    table['"'] = kQuote;
    return table;
}();

// The longest text one input byte can become.
constexpr std::size_t kMaxGrowth = 5;

// Room past the end of the output and of each joint for whole-block copies.
constexpr std::size_t kSlack = 32;

// Copies a joint in 16-byte blocks; both sides have kSlack bytes of room past their ends.
char* putBlocks(char* out, const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; i += 16) {
        std::memcpy(out + i, data + i, 16);
    }
    return out + size;
}

std::string_view escapeFor(char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    default:
        return "&#xD;";
    }
}

char* put(char* out, std::string_view text) {
    if (text.empty()) {
        return out; // an empty view may carry no pointer at all
    }
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Writes the value that a raw field stands for, unquoted and escaped in one pass. `out` has room
// for kMaxGrowth bytes per byte of the field.
char* putFieldValue(char* out, std::string_view field) {
    const char* p = field.data();
    const char* end = p + field.size();
    const bool quoted = field.size() >= 2 && *p == '"' && end[-1] == '"';
    if (quoted) {
        ++p;
        --end;
    }
    while (p < end) {
        const char c = *p++;
        switch (kByteClass[static_cast<unsigned char>(c)]) {
        case kPlain:
            *out++ = c;
            break;
        case kEscape:
            out = put(out, escapeFor(c));
            break;
        default:
            *out++ = c;
            if (quoted && p < end && *p == '"') {
                ++p;
            }
        }
    }
    return out;
}

} // namespace

std::string Indent(std::int64_t count) {
    return count > 0 ? std::string(static_cast<std::size_t>(count), ' ') : std::string();
}

void appendEscapedText(std::string& out, std::string_view value) {
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (kByteClass[static_cast<unsigned char>(value[i])] == kEscape) {
            out.append(value.substr(runStart, i - runStart));
            out.append(escapeFor(value[i]));
            runStart = i + 1;
        }
    }
    out.append(value.substr(runStart));
}

XmlConverter::XmlConverter(const ConversionOptions& options, ConversionSink& sink)
    : options_(options), sink_(sink) {
    opening_ = "<" + options_.xmlTag + ">";
    opening_ += kCrLf;
    if (options_.useRowTags) {
        rowOpen_ = Indent(1) + "<" + options_.rowTag + ">";
        rowOpen_ += kCrLf;
        rowClose_ = Indent(1) + "</" + options_.rowTag + ">";
        rowClose_ += kCrLf;
    }
    const std::string& sep = options_.separator;
    fastPath_ = sep.size() == 1 && kByteClass[static_cast<unsigned char>(sep[0])] == kPlain;
    if (fastPath_) {
#if defined(__SSE2__)
        sepBlock_ = _mm_set1_epi8(sep[0]);
#endif
        separator_ = sep[0];
        fastClass_ = kByteClass;
        fastClass_[static_cast<unsigned char>(sep[0])] = kSeparator;
    }
}

void XmlConverter::takeColumnNames(std::string_view line) {
    splitFields(line, options_.separator, fields_);
    const std::string indent = Indent(options_.useRowTags ? 2 : 1);
    // Between two values stands one piece of fixed text: the end tag of the one and the start
    // tag of the next; the row tags join the first and the last piece.
    std::vector<std::string> joints(1, rowOpen_);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::string name = options_.headerRow ? encodeXmlName(fieldValue(fields_[i]))
                                                    : "header" + std::to_string(i + 1);
        joints.back() += indent + "<" + name + ">";
        joints.push_back("</" + name + ">");
        joints.back() += kCrLf;
    }
    joints.back() += rowClose_;
    fixedRowBytes_ = 0;
    std::size_t arenaSize = 0;
    for (const auto& joint : joints) {
        fixedRowBytes_ += joint.size();
        arenaSize += joint.size() + kSlack;
    }
    // Each joint is followed by slack, so that copying it in whole 16-byte blocks never reads
    // past the arena.
    jointArena_.assign(arenaSize, '\0');
    spans_.clear();
    std::size_t offset = 0;
    for (const auto& joint : joints) {
        std::memcpy(jointArena_.data() + offset, joint.data(), joint.size());
        spans_.push_back({jointArena_.data() + offset, joint.size()});
        offset += joint.size() + kSlack;
    }
    namesKnown_ = true;
}

void XmlConverter::addLine(std::string_view line) {
    if (!namesKnown_) {
        takeColumnNames(line);
        if (options_.headerRow) {
            return;
        }
    }
    writeRow(line);
}

char* XmlConverter::reserve(std::size_t bytes) {
    if (bytes > capacity_) {
        capacity_ = std::max(bytes, capacity_ * 2);
        buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    }
    return buffer_.get();
}

char* XmlConverter::putJoint(char* out, std::size_t index) const {
    return putBlocks(out, spans_[index].data, spans_[index].size);
}

char* XmlConverter::putRowFast(char* out, std::string_view line) const {
    // One pass over a line split at a one-byte separator: copies, unquotes, escapes and cuts as
    // it goes. It knows fields that are plain or wholly quoted ("..." with '""' inside); at
    // anything else it returns nullptr and leaves the line to writeRow's general path.
    const std::size_t columns = spans_.size() - 1;
    std::size_t column = 0;
    const char* p = line.data();
    const char* const end = p + line.size();
    const char* valueStart = p;
    bool inQuotes = false;
    while (p < end && column < columns) {
#if defined(__SSE2__)
        // Copy 16 bytes at a time up to the next byte that needs a look.
        if (end - p >= 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i hits =
                _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, sepBlock_),
                                                       _mm_cmpeq_epi8(block, _mm_set1_epi8('"'))),
                                          _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('&')),
                                                       _mm_cmpeq_epi8(block, _mm_set1_epi8('<')))),
                             _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('>')),
                                          _mm_cmpeq_epi8(block, _mm_set1_epi8('\r'))));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
            if (mask == 0) {
                p += 16;
                out += 16;
                continue;
            }
            const int plain = __builtin_ctz(mask);
            p += plain;
            out += plain;
        }
#endif
        const char c = *p++;
        switch (fastClass_[static_cast<unsigned char>(c)]) {
        case kPlain:
            *out++ = c;
            break;
        case kEscape:
            out = put(out, escapeFor(c));
            break;
        case kSeparator:
            if (inQuotes) {
                *out++ = c;
            } else {
                out = putJoint(out, ++column);
                valueStart = p;
            }
            break;
        default: // '"'
            if (!inQuotes) {
                if (p - 1 != valueStart) {
                    return nullptr;
                }
                inQuotes = true;
            } else if (p < end && *p == '"') {
                *out++ = '"';
                ++p;
            } else if (p == end || *p == separator_) {
                inQuotes = false;
            } else {
                return nullptr;
            }
        }
    }
    if (inQuotes) {
        return nullptr;
    }
    if (p < end && std::memchr(p, '"', static_cast<std::size_t>(end - p)) != nullptr) {
        return nullptr; // the dropped values hold a quote that may hide a separator
    }
    while (column < columns) {
        out = putJoint(out, ++column);
    }
    return out;
}

void XmlConverter::writeRow(std::string_view line) {
    const std::string_view opening = openingWritten_ ? std::string_view() : opening_;
    char* const start =
        reserve(opening.size() + fixedRowBytes_ + line.size() * kMaxGrowth + kSlack);
    char* out = putJoint(put(start, opening), 0);
    char* const valuesStart = out;
    if (!fastPath_ || (out = putRowFast(valuesStart, line)) == nullptr) {
        out = valuesStart;
        splitFields(line, options_.separator, fields_);
        const std::size_t columns = spans_.size() - 1;
        const std::size_t values = std::min(columns, fields_.size());
        for (std::size_t i = 0; i < values; ++i) {
            out = putFieldValue(out, fields_[i]);
            out = putJoint(out, i + 1);
        }
        for (std::size_t i = values; i < columns; ++i) {
            out = putJoint(out, i + 1);
        }
    }
    sink_.append(std::string_view(start, static_cast<std::size_t>(out - start)));
    openingWritten_ = true;
    ++rowsWritten_;
    if (rowCount_ > 0) {
        const double percent =
            static_cast<double>(rowsWritten_) / static_cast<double>(rowCount_) * 100.0;
        sink_.progress(static_cast<float>(percent));
    }
}

void XmlConverter::finish() {
    std::string last = openingWritten_ ? std::string() : opening_;
    last += "</" + options_.xmlTag + ">";
    sink_.append(last);
    sink_.progress(0.0f);
    sink_.finish();
}

void ConvertTextToXml(std::string_view text, const ConversionOptions& options,
                      ConversionSink& sink) {
    sink.begin();
    XmlConverter converter(options, sink);
    const std::int64_t lineCount = countLines(text);
    converter.setRowCount(options.headerRow ? std::max<std::int64_t>(lineCount - 1, 0) : lineCount);
    LineCursor cursor(text);
    std::string_view line;
    while (cursor.next(line)) {
        converter.addLine(line);
    }
    converter.finish();
}

} // namespace CSVXML
