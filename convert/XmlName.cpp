#include "XmlName.h"

#include <array>
#include <cstdint>

namespace CSVXML {

namespace {

bool isNameStartChar(char32_t c) {
    return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || c == U'_' ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(char32_t c) {
    return isNameStartChar(c) || c == U'-' || c == U'.' || (c >= U'0' && c <= U'9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Decodes one UTF-8 sequence at `pos`. A malformed byte decodes as itself (0x80..0xFF) and
// advances by one, so that it is escaped rather than dropped.
char32_t decodeAt(std::string_view s, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(s[pos]);
    std::size_t extra = 0;
    char32_t c = lead;
    if (lead < 0x80) {
        ++pos;
        return c;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        c = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        c = lead & 0x07u;
    } else {
        ++pos;
        return lead;
    }
    if (pos + extra >= s.size()) {
        ++pos;
        return lead;
    }
    for (std::size_t i = 1; i <= extra; ++i) {
        const auto next = static_cast<unsigned char>(s[pos + i]);
        if ((next & 0xC0u) != 0x80u) {
            ++pos;
            return lead;
        }
        c = (c << 6) | (next & 0x3Fu);
    }
    static constexpr std::array<char32_t, 4> kSmallest{0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        ++pos;
        return lead;
    }
    pos += extra + 1;
    return c;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void appendEscape(std::string& out, std::uint16_t unit) {
    static constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    out += "_x";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(kHex[(unit >> shift) & 0xFu]);
    }
    out.push_back('_');
}

void appendEscaped(std::string& out, char32_t c) {
    if (c >= 0x10000 && c <= 0x10FFFF) {
        const char32_t v = c - 0x10000;
        appendEscape(out, static_cast<std::uint16_t>(0xD800 + (v >> 10)));
        appendEscape(out, static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
    } else {
        appendEscape(out, static_cast<std::uint16_t>(c));
    }
}

// True when `s` at `pos` reads "_xHHHH_", which a decoder would take for an escape.
bool looksLikeEscape(std::string_view s, std::size_t pos) {
    if (pos + 7 > s.size() || s[pos] != '_' || s[pos + 1] != 'x' || s[pos + 6] != '_') {
        return false;
    }
    for (std::size_t i = pos + 2; i < pos + 6; ++i) {
        if (!isHexDigit(s[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string encodeXmlName(std::string_view name) {
    if (name.empty()) {
        return "_";
    }
    std::string out;
    out.reserve(name.size());
    std::size_t pos = 0;
    bool first = true;
    while (pos < name.size()) {
        const std::size_t at = pos;
        const char32_t c = decodeAt(name, pos);
        const bool malformed = pos == at + 1 && c >= 0x80;
        if (c == U'_' && looksLikeEscape(name, at)) {
            appendEscape(out, u'_');
        } else if (!malformed && (first ? isNameStartChar(c) : isNameChar(c))) {
            appendUtf8(out, c);
        } else {
            appendEscaped(out, c);
        }
        first = false;
    }
    return out;
}

bool isXmlName(std::string_view name) {
    std::size_t pos = 0;
    while (pos < name.size()) {
        const std::size_t at = pos;
        const char32_t c = decodeAt(name, pos);
        const bool malformed = pos == at + 1 && c >= 0x80;
        if (malformed || !(at == 0 ? isNameStartChar(c) : isNameChar(c))) {
            return false;
        }
    }
    return !name.empty();
}

} // namespace CSVXML
