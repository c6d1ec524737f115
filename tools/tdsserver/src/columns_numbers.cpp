// Conversions of SQLite values: to text, to integers, decimal, money and floating point.

#include "columns_detail.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace tdsserver::detail {
namespace {

std::string_view sourceTypeName(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Integer:
        return "int";
    case Value::Kind::Real:
        return "float";
    case Value::Kind::Blob:
        return "varbinary";
    default:
        return "varchar";
    }
}

std::string realText(double d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

} // namespace

std::string valueText(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Integer:
        return std::to_string(v.integer);
    case Value::Kind::Real:
        return realText(v.real);
    default:
        return std::string(v.bytes);
    }
}

[[noreturn]] void conversionFailed(const Value& v, SqlType target) {
    // Shown to whoever reads the client's error; a long value is cut to stay readable.
    std::string text = valueText(v);
    if (text.size() > 100)
        text = text.substr(0, 100) + "...";
    throw ValueError(245, "Conversion failed when converting the " +
                              std::string(sourceTypeName(v)) + " value '" + text +
                              "' to data type " + std::string(typeName(target)) + ".");
}

[[noreturn]] void overflow(SqlType target) {
    throw ValueError(8115, "Arithmetic overflow error converting expression to data type " +
                               std::string(typeName(target)) + ".");
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::int64_t toInteger(const Value& v, SqlType target) {
    switch (v.kind) {
    case Value::Kind::Integer:
        return v.integer;
    case Value::Kind::Real:
        if (std::isfinite(v.real) && std::trunc(v.real) == v.real) {
            if (v.real >= -9223372036854775808.0 && v.real < 9223372036854775808.0)
                return static_cast<std::int64_t>(v.real);
            overflow(target);
        }
        conversionFailed(v, target);
    case Value::Kind::Text: {
        std::string_view s = trimmed(v.bytes);
        if (!s.empty() && s.front() == '+')
            s.remove_prefix(1);
        std::int64_t out = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
        if (ec == std::errc::result_out_of_range)
            overflow(target);
        if (ec != std::errc() || end != s.data() + s.size() || s.empty())
            conversionFailed(v, target);
        return out;
    }
    default:
        conversionFailed(v, target);
    }
}

namespace {

// A decimal number as digits and a power of ten: value = digits * 10^exponent.
struct DecimalText {
    bool negative = false;
    std::string digits; // no leading zeros; empty for zero
    int exponent = 0;
};

bool parseDecimal(std::string_view s, DecimalText& out) {
    s = trimmed(s);
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        out.negative = s[i++] == '-';
    bool any = false;
    bool point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            any = true;
            if (!(out.digits.empty() && c == '0'))
                out.digits.push_back(c);
            if (point)
                --out.exponent;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        int sign = 1;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            sign = s[i++] == '-' ? -1 : 1;
        int e = 0;
        bool expDigits = false;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
            expDigits = true;
            if (e < 100000)
                e = e * 10 + (s[i] - '0');
        }
        if (!expDigits)
            return false;
        out.exponent += sign * e;
    }
    if (i != s.size())
        return false;
    if (out.digits.empty())
        out.exponent = 0;
    return true;
}

// The value scaled by 10^scale and rounded half away from zero, as decimal digits.
std::string scaledDigits(const DecimalText& d, int scale) {
    std::string digits = d.digits;
    if (digits.empty())
        return "";
    const long shift = static_cast<long>(d.exponent) + scale;
    if (shift >= 0) {
        if (shift > 80) // far beyond any precision: report overflow through the length
            return std::string(81, '9');
        digits.append(static_cast<std::size_t>(shift), '0');
        return digits;
    }
    const auto drop = static_cast<std::size_t>(-shift);
    if (drop > digits.size())
        return "";
    const bool roundUp = digits[digits.size() - drop] >= '5';
    digits.resize(digits.size() - drop);
    if (roundUp) {
        std::size_t k = digits.size();
        while (k > 0 && digits[k - 1] == '9')
            digits[--k] = '0';
        if (k == 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[k - 1];
    }
    const auto nonZero = digits.find_first_not_of('0');
    return nonZero == std::string::npos ? "" : digits.substr(nonZero);
}

DecimalText toDecimal(const Value& v, SqlType target) {
    DecimalText d;
    switch (v.kind) {
    case Value::Kind::Integer:
        parseDecimal(std::to_string(v.integer), d);
        return d;
    case Value::Kind::Real:
        if (!std::isfinite(v.real))
            overflow(target);
        parseDecimal(realText(v.real), d);
        return d;
    case Value::Kind::Text:
    case Value::Kind::Blob: // SQLite keeps digits exactly only outside a numeric affinity
        if (!parseDecimal(v.bytes, d))
            conversionFailed(v, target);
        return d;
    default:
        conversionFailed(v, target);
    }
}

} // namespace

int decimalBytes(int precision) {
    if (precision <= 9)
        return 4;
    if (precision <= 19)
        return 8;
    if (precision <= 28)
        return 12;
    return 16;
}

void appendDecimal(std::string& out, const ColumnType& t, const Value& v) {
    const DecimalText d = toDecimal(v, t.type);
    const std::string digits = scaledDigits(d, t.scale);
    if (static_cast<int>(digits.size()) > t.precision)
        overflow(t.type);
    std::array<std::uint32_t, 4> words{};
    for (const char c : digits) {
        std::uint64_t carry = static_cast<std::uint64_t>(c - '0');
        for (auto& w : words) {
            const std::uint64_t x = std::uint64_t{w} * 10 + carry;
            w = static_cast<std::uint32_t>(x);
            carry = x >> 32;
        }
    }
    const int bytes = decimalBytes(t.precision);
    out.push_back(static_cast<char>(1 + bytes));
    out.push_back(d.negative && !digits.empty() ? 0 : 1);
    for (int i = 0; i < bytes / 4; ++i)
        putLE(out, words[static_cast<std::size_t>(i)], 4);
}

void appendMoney(std::string& out, const ColumnType& t, const Value& v) {
    const DecimalText d = toDecimal(v, t.type);
    const std::string digits = scaledDigits(d, 4);
    std::int64_t units = 0;
    if (!digits.empty()) {
        if (digits.size() > 19)
            overflow(t.type);
        std::uint64_t magnitude = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
        const std::uint64_t limit =
            t.type == SqlType::Money ? (std::uint64_t{1} << 63) - 1 : (std::uint64_t{1} << 31) - 1;
        if (magnitude > limit + (d.negative ? 1 : 0))
            overflow(t.type);
        units = d.negative ? static_cast<std::int64_t>(0 - magnitude)
                           : static_cast<std::int64_t>(magnitude);
    }
    if (t.type == SqlType::SmallMoney) {
        out.push_back(4);
        putLE(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(units)), 4);
        return;
    }
    out.push_back(8);
    const auto u = static_cast<std::uint64_t>(units);
    putLE(out, u >> 32, 4); // money goes high half first
    putLE(out, u & 0xFFFFFFFFu, 4);
}

double toDouble(const Value& v, SqlType target) {
    switch (v.kind) {
    case Value::Kind::Integer:
        return static_cast<double>(v.integer);
    case Value::Kind::Real:
        return v.real;
    case Value::Kind::Text: {
        const std::string_view s = trimmed(v.bytes);
        double d = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
        if (ec != std::errc() || end != s.data() + s.size() || s.empty() || !std::isfinite(d))
            throw ValueError(8114, "Error converting data type varchar to " +
                                       std::string(typeName(target)) + ".");
        return d;
    }
    default:
        conversionFailed(v, target);
    }
}

} // namespace tdsserver::detail
