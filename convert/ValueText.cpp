#include "ValueText.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ValueText {

namespace {

// By length: the (first, last) form of append goes the long way, through replace.
void appendRange(std::string& out, const char* first, const char* last) {
    out.append(first, static_cast<std::size_t>(last - first));
}

// Writes `value` (0 <= value < 10^width) as exactly `width` digits, zeros in front.
char* putFixed(char* out, std::uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

// At least `width` characters: zeros in front of the number's text (its sign included).
char* putDigits(char* out, std::int64_t value, int width) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    for (auto length = static_cast<int>(result.ptr - digits); length < width; ++length) {
        *out++ = '0';
    }
    return std::copy(static_cast<const char*>(digits), static_cast<const char*>(result.ptr), out);
}

// Components in the ranges the server's types hold (year 1-9999, month, day, hour...) take the
// fixed-width form; anything else keeps the general one, so no value is ever cut.
bool fitsFixed(int value, int width) {
    return value >= 0 && value < (width == 4 ? 10000 : 100);
}

char* putPart(char* out, int value, int width) {
    return fitsFixed(value, width) ? putFixed(out, static_cast<std::uint32_t>(value), width)
                                   : putDigits(out, value, width);
}

char* putDate(char* out, int year, int month, int day) {
    out = putPart(out, year, 4);
    *out++ = '-';
    out = putPart(out, month, 2);
    *out++ = '-';
    return putPart(out, day, 2);
}

char* putTime(char* out, int hour, int minute, int second, std::uint32_t nanoseconds,
              int fractionDigits, bool roundToDigits) {
    out = putPart(out, hour, 2);
    *out++ = ':';
    out = putPart(out, minute, 2);
    *out++ = ':';
    out = putPart(out, second, 2);
    if (fractionDigits <= 0) {
        return out;
    }
    fractionDigits = fractionDigits > 9 ? 9 : fractionDigits;
    std::uint32_t unit = 1;
    for (int i = fractionDigits; i < 9; ++i) {
        unit *= 10;
    }
    std::uint32_t fraction = nanoseconds / unit;
    if (roundToDigits && nanoseconds % unit >= unit / 2 && (fraction + 1) * unit < 1'000'000'000u) {
        ++fraction;
    }
    *out++ = '.';
    // A fraction past a second's worth (a driver's odd value) keeps all its digits.
    std::uint32_t limit = 1;
    for (int i = 0; i < fractionDigits; ++i) {
        limit *= 10;
    }
    return fraction < limit ? putFixed(out, fraction, fractionDigits)
                            : putDigits(out, fraction, fractionDigits);
}

// The longest date and time text: three parts of up to 20 characters (an int's sign and digits)
// with their separators, then a fraction of up to 10 digits.
constexpr std::size_t kDateTimeRoom = 3 * 21 + 3 * 21 + 12;

template <typename T>
void appendShortest(std::string& out, T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    appendRange(out, buffer, result.ptr);
}

} // namespace

void appendInteger(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    appendRange(out, buffer, result.ptr);
}

void appendDouble(std::string& out, double value) {
    appendShortest(out, value);
}

void appendFloat(std::string& out, float value) {
    appendShortest(out, value);
}

void appendDate(std::string& out, int year, int month, int day) {
    char buffer[kDateTimeRoom];
    appendRange(out, buffer, putDate(buffer, year, month, day));
}

void appendDateTime(std::string& out, int year, int month, int day, int hour, int minute,
                    int second, std::uint32_t nanoseconds, int fractionDigits, bool roundToDigits) {
    char buffer[kDateTimeRoom];
    char* end = putDate(buffer, year, month, day);
    *end++ = 'T';
    end = putTime(end, hour, minute, second, nanoseconds, fractionDigits, roundToDigits);
    appendRange(out, buffer, end);
}

bool appendDriverDateTime(std::string& out, std::string_view text, int fractionDigits) {
    const auto digitsAt = [&](std::size_t at, std::size_t count) {
        if (at + count > text.size()) {
            return false;
        }
        return std::all_of(text.begin() + std::ptrdiff_t(at),
                           text.begin() + std::ptrdiff_t(at + count),
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    // The year may come without its leading zeros ("1-01-01" for 0001-01-01).
    std::size_t y = 0;
    while (y < 4 && digitsAt(y, 1)) {
        ++y;
    }
    // Y-MM-DD hh:mm:ss
    if (y == 0 || text.size() < y + 15 || text[y] != '-' || !digitsAt(y + 1, 2) ||
        text[y + 3] != '-' || !digitsAt(y + 4, 2) || (text[y + 6] != ' ' && text[y + 6] != 'T') ||
        !digitsAt(y + 7, 2) || text[y + 9] != ':' || !digitsAt(y + 10, 2) || text[y + 12] != ':' ||
        !digitsAt(y + 13, 2)) {
        return false;
    }
    std::size_t i = y + 15;
    std::string_view fraction;
    if (i < text.size() && text[i] == '.') {
        const std::size_t start = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        fraction = text.substr(start, i - start);
    }
    if (i < text.size() && text[i] == ' ') {
        ++i;
    }
    std::string_view offset;
    if (i < text.size()) {
        offset = text.substr(i);
        if (offset.size() != 6 || (offset[0] != '+' && offset[0] != '-') || !digitsAt(i + 1, 2) ||
            offset[3] != ':' || !digitsAt(i + 4, 2)) {
            return false;
        }
    }
    out.append(4 - y, '0');
    out.append(text.substr(0, y + 6));
    out.push_back('T');
    out.append(text.substr(y + 7, 8));
    const std::size_t digits = fractionDigits < 0 ? fraction.size() : std::size_t(fractionDigits);
    if (digits > 0) {
        out.push_back('.');
        out.append(fraction.substr(0, digits));
        out.append(digits - std::min(digits, fraction.size()), '0');
    }
    out.append(offset);
    return true;
}

void appendDecimal(std::string& out, std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        if (text.front() == '-') {
            out.push_back('-');
        }
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '.') {
        out.push_back('0');
    }
    out.append(text);
}

void appendGuid(std::string& out, const unsigned char (&b)[16]) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // The first three groups are stored little-endian.
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    char text[36];
    char* o = text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            *o++ = '-';
        }
        const unsigned char byte = b[kOrder[i]];
        *o++ = kHex[byte >> 4];
        *o++ = kHex[byte & 0xF];
    }
    out.append(text, sizeof text);
}

void appendBase64(std::string& out, std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t start = out.size();
    out.resize(start + (bytes.size() + 2) / 3 * 4);
    char* o = out.data() + start;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const auto n = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16 |
                       std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                       std::uint32_t(static_cast<unsigned char>(bytes[i + 2]));
        *o++ = kAlphabet[n >> 18];
        *o++ = kAlphabet[(n >> 12) & 63];
        *o++ = kAlphabet[(n >> 6) & 63];
        *o++ = kAlphabet[n & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t n = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2) {
            n |= std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        *o++ = kAlphabet[n >> 18];
        *o++ = kAlphabet[(n >> 12) & 63];
        *o++ = rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        *o++ = '=';
    }
}

std::int64_t appendUtf8(std::string& out, std::u16string_view text) {
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    // At most three bytes for each UTF-16 unit (a surrogate pair gives four for two units).
    const std::size_t start = out.size();
    out.resize(start + text.size() * 3);
    char* o = out.data() + start;
    std::int64_t lone = 0;
    while (p != end) {
#if defined(__SSE2__)
        // Most text is ASCII: eight units at a time while they are.
        if (end - p >= 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(units, units));
                p += 8;
                o += 8;
                continue;
            }
        }
#endif
        char32_t c = *p++;
        if (c < 0x80) {
            *o++ = char(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c <= 0xDBFF && p != end && *p >= 0xDC00 && *p <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(*p++) - 0xDC00);
            } else {
                c = 0xFFFD;
                ++lone;
            }
        }
        if (c < 0x800) {
            *o++ = char(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *o++ = char(0xE0 | (c >> 12));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
        } else {
            *o++ = char(0xF0 | (c >> 18));
            *o++ = char(0x80 | ((c >> 12) & 0x3F));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
        }
        *o++ = char(0x80 | (c & 0x3F));
    }
    out.resize(std::size_t(o - out.data()));
    return lone;
}

} // namespace ValueText
