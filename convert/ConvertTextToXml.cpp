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
// byte (a doubled quote inside a quoted field), 4 a character XML 1.0 cannot hold, 5 the lead
// byte of U+FFFE or U+FFFF.
enum : unsigned char {
    kPlain = 0,
    kEscape = 1,
    kQuote = 2,
    kSeparator = 3,
    kControl = 4,
    kNonCharLead = 5
};
constexpr std::array<unsigned char, 256> kByteClass = [] {
    std::array<unsigned char, 256> table{};
    table['&'] = table['<'] = table['>'] = table['\r'] = kEscape;
    table['"'] = kQuote;
    for (unsigned c = 0; c < 0x20; ++c) {
        if (c != '\t' && c != '\n' && c != '\r') {
            table[c] = kControl;
        }
    }
    table[0xEF] = kNonCharLead;
    return table;
}();

// The longest text one input byte can become ("&#x1F;").
constexpr std::size_t kMaxGrowth = 6;

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

// The UTF-8 of U+FFFE or U+FFFF starts at p (whose first byte is 0xEF)?
bool isNonCharAt(const char* p, const char* end) {
    return end - p >= 3 && static_cast<unsigned char>(p[1]) == 0xBF &&
           (static_cast<unsigned char>(p[2]) == 0xBE || static_cast<unsigned char>(p[2]) == 0xBF);
}

// A character reference the way SQL Server's FOR XML writes one: upper-case hex, no leading zeros.
char* putReference(char* out, unsigned code) {
    constexpr char kHex[] = "0123456789ABCDEF";
    *out++ = '&';
    *out++ = '#';
    *out++ = 'x';
    int shift = 12;
    while (shift > 0 && (code >> shift) == 0) {
        shift -= 4;
    }
    for (; shift >= 0; shift -= 4) {
        *out++ = kHex[(code >> shift) & 0xF];
    }
    *out++ = ';';
    return out;
}

// Writes the character at p (class kControl or kNonCharLead) and says how many bytes it took and
// whether it was one that XML 1.0 cannot hold.
char* putUnusual(char* out, const char*& p, const char* end, bool& refused) {
    const auto c = static_cast<unsigned char>(*p);
    if (c != 0xEF) {
        ++p;
        refused = true;
        return putReference(out, c);
    }
    if (isNonCharAt(p, end)) {
        const unsigned code = 0xFFC0u | (static_cast<unsigned char>(p[2]) & 0x3Fu);
        p += 3;
        refused = true;
        return putReference(out, code);
    }
    *out++ = *p++;
    refused = false;
    return out;
}

char* put(char* out, std::string_view text) {
    if (text.empty()) {
        return out; // an empty view may carry no pointer at all
    }
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Writes the value that a raw field stands for, unquoted and escaped in one pass. `out` has room
// for kMaxGrowth bytes per byte of the field. Adds the characters XML 1.0 cannot hold to `refused`.
char* putFieldValue(char* out, std::string_view field, std::int64_t& refused) {
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
        case kQuote:
            *out++ = c;
            if (quoted && p < end && *p == '"') {
                ++p;
            }
            break;
        default: {
            bool wasRefused = false;
            --p;
            out = putUnusual(out, p, end, wasRefused);
            refused += wasRefused ? 1 : 0;
        }
        }
    }
    return out;
}

} // namespace

std::string Indent(std::int64_t count) {
    return count > 0 ? std::string(static_cast<std::size_t>(count), ' ') : std::string();
}

XmlConverter::XmlConverter(const ConversionOptions& options, ConversionSink& sink,
                           db::Progress& progress)
    : options_(options), sink_(sink), progress_(progress) {
    opening_ = "<" + options_.xmlTag;
    if (options_.nulls == NullForm::Nil) {
        // On the root, so that a reader knows the prefix wherever a NULL stands.
        opening_ += " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
    }
    opening_ += ">";
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

void XmlConverter::noteRefused(std::size_t column) {
    if (rowRefused_++ == 0) {
        rowFirstColumn_ = column;
    }
}

void XmlConverter::takeColumnNames(std::string_view line) {
    splitFields(line, options_.separator, fields_);
    const std::string indent = Indent(options_.useRowTags ? 2 : 1);
    // Between two values stands one piece of fixed text: the end tag of the one and the start
    // tag of the next; the row tags join the first and the last piece.
    std::vector<std::string> joints(1, rowOpen_);
    columnNames_.clear();
    columnOpen_.clear();
    columnClose_.clear();
    columnNil_.clear();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        columnNames_.push_back(options_.headerRow ? std::string(fieldValue(fields_[i]))
                                                  : "header" + std::to_string(i + 1));
        const std::string name =
            options_.headerRow ? encodeXmlName(columnNames_.back()) : columnNames_.back();
        joints.back() += indent + "<" + name + ">";
        joints.push_back("</" + name + ">");
        joints.back() += kCrLf;
        columnOpen_.push_back(indent + "<" + name + ">");
        columnClose_.push_back("</" + name + ">");
        columnClose_.back() += kCrLf;
        columnNil_.push_back(indent + "<" + name + " xsi:nil=\"true\"/>");
        columnNil_.back() += kCrLf;
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

void XmlConverter::addLine(std::string_view line, const std::vector<bool>& nulls) {
    if (options_.nulls == NullForm::Empty || !namesKnown_ ||
        std::find(nulls.begin(), nulls.end(), true) == nulls.end()) {
        addLine(line);
        return;
    }
    writeRowWithNulls(line, nulls);
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

char* XmlConverter::putRowFast(char* out, std::string_view line) {
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
            // Bytes below 0x20 (tab and LF among them, which the table then lets through) and
            // the lead byte of U+FFFE and U+FFFF.
            const __m128i unusual =
                _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(block, _mm_set1_epi8(0x1F)), block),
                             _mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(0xEF))));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(hits, unusual)));
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
        case kControl:
        case kNonCharLead: {
            bool refused = false;
            --p;
            out = putUnusual(out, p, end, refused);
            if (refused) {
                noteRefused(column);
            }
            break;
        }
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
    rowRefused_ = 0;
    if (!fastPath_ || (out = putRowFast(valuesStart, line)) == nullptr) {
        out = valuesStart;
        rowRefused_ = 0; // the fast path may have counted part of the row
        splitFields(line, options_.separator, fields_);
        const std::size_t columns = spans_.size() - 1;
        const std::size_t values = std::min(columns, fields_.size());
        for (std::size_t i = 0; i < values; ++i) {
            std::int64_t refused = 0;
            out = putFieldValue(out, fields_[i], refused);
            for (; refused > 0; --refused) {
                noteRefused(i);
            }
            out = putJoint(out, i + 1);
        }
        for (std::size_t i = values; i < columns; ++i) {
            out = putJoint(out, i + 1);
        }
    }
    appendRow(start, out);
}

// A NULL's element is left out or written as nil; the other values as writeRow writes them.
void XmlConverter::writeRowWithNulls(std::string_view line, const std::vector<bool>& nulls) {
    const std::string_view opening = openingWritten_ ? std::string_view() : opening_;
    const std::size_t columns = columnOpen_.size();
    std::size_t tagBytes = rowOpen_.size() + rowClose_.size();
    for (std::size_t i = 0; i < columns; ++i) {
        tagBytes += columnNil_[i].size() + columnOpen_[i].size() + columnClose_[i].size();
    }
    char* const start = reserve(opening.size() + tagBytes + line.size() * kMaxGrowth + kSlack);
    char* out = put(put(start, opening), rowOpen_);
    rowRefused_ = 0;
    splitFields(line, options_.separator, fields_);
    for (std::size_t i = 0; i < columns; ++i) {
        if (i < nulls.size() && nulls[i]) {
            if (options_.nulls == NullForm::Nil) {
                out = put(out, columnNil_[i]);
            }
            continue;
        }
        out = put(out, columnOpen_[i]);
        if (i < fields_.size()) {
            std::int64_t refused = 0;
            out = putFieldValue(out, fields_[i], refused);
            for (; refused > 0; --refused) {
                noteRefused(i);
            }
        }
        out = put(out, columnClose_[i]);
    }
    out = put(out, rowClose_);
    appendRow(start, out);
}

void XmlConverter::appendRow(char* start, char* end) {
    sink_.append(std::string_view(start, static_cast<std::size_t>(end - start)));
    openingWritten_ = true;
    ++rowsWritten_;
    if (rowRefused_ > 0) {
        if (refused_.count == 0) {
            refused_.firstRow = rowsWritten_;
            refused_.firstColumn = columnNames_[rowFirstColumn_];
        }
        refused_.count += rowRefused_;
    }
    if (rowCount_ > 0) {
        progress_.step(rowsWritten_);
    }
    progress_.serve();
}

void XmlConverter::finish() {
    std::string last = openingWritten_ ? std::string() : opening_;
    last += "</" + options_.xmlTag + ">";
    sink_.append(last);
    sink_.finish();
    progress_.end();
}

RefusedCharacters ConvertTextToXml(std::string_view text, const ConversionOptions& options,
                                   ConversionSink& sink, db::Progress& progress) {
    sink.begin();
    XmlConverter converter(options, sink, progress);
    converter.setRowCount(dataRows(countLines(text), options));
    LineCursor cursor(text);
    std::string_view line;
    while (cursor.next(line)) {
        converter.addLine(line);
    }
    converter.finish();
    return converter.refusedCharacters();
}

} // namespace CSVXML
