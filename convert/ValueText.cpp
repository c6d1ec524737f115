#include "ValueText.h"

#include <charconv>
#include <system_error>

namespace ValueText {

namespace {

void appendDigits(std::string& out, std::int64_t value, int width) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    const auto length = static_cast<int>(result.ptr - buffer);
    if (length < width) {
        out.append(static_cast<std::size_t>(width - length), '0');
    }
    out.append(buffer, result.ptr);
}

template <typename T>
void appendShortest(std::string& out, T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

} // namespace

void appendInteger(std::string& out, std::int64_t value) {
    appendDigits(out, value, 0);
}

void appendDouble(std::string& out, double value) {
    appendShortest(out, value);
}

void appendFloat(std::string& out, float value) {
    appendShortest(out, value);
}

void appendDate(std::string& out, int year, int month, int day) {
    appendDigits(out, year, 4);
    out.push_back('-');
    appendDigits(out, month, 2);
    out.push_back('-');
    appendDigits(out, day, 2);
}

void appendTime(std::string& out, int hour, int minute, int second, std::uint32_t nanoseconds,
                int fractionDigits, bool roundToDigits) {
    appendDigits(out, hour, 2);
    out.push_back(':');
    appendDigits(out, minute, 2);
    out.push_back(':');
    appendDigits(out, second, 2);
    if (fractionDigits <= 0) {
        return;
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
    out.push_back('.');
    appendDigits(out, fraction, fractionDigits);
}

void appendDateTime(std::string& out, int year, int month, int day, int hour, int minute,
                    int second, std::uint32_t nanoseconds, int fractionDigits, bool roundToDigits) {
    appendDate(out, year, month, day);
    out.push_back('T');
    appendTime(out, hour, minute, second, nanoseconds, fractionDigits, roundToDigits);
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
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out.push_back('-');
        }
        const unsigned char byte = b[kOrder[i]];
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0xF]);
    }
}

void appendBase64(std::string& out, std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const auto n = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16 |
                       std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                       std::uint32_t(static_cast<unsigned char>(bytes[i + 2]));
        out.push_back(kAlphabet[n >> 18]);
        out.push_back(kAlphabet[(n >> 12) & 63]);
        out.push_back(kAlphabet[(n >> 6) & 63]);
        out.push_back(kAlphabet[n & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t n = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2) {
            n |= std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        out.push_back(kAlphabet[n >> 18]);
        out.push_back(kAlphabet[(n >> 12) & 63]);
        out.push_back(rest == 2 ? kAlphabet[(n >> 6) & 63] : '=');
        out.push_back('=');
    }
}

} // namespace ValueText
