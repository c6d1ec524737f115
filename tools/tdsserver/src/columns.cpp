#include "columns.h"

#include "text.h"
#include "tokens.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace tdsserver {
namespace {

constexpr std::uint8_t kIntN = 0x26;
constexpr std::uint8_t kBitN = 0x68;
constexpr std::uint8_t kDecimalN = 0x6A;
constexpr std::uint8_t kNumericN = 0x6C;
constexpr std::uint8_t kMoneyN = 0x6E;
constexpr std::uint8_t kFltN = 0x6D;
constexpr std::uint8_t kDateN = 0x28;
constexpr std::uint8_t kTimeN = 0x29;
constexpr std::uint8_t kDateTimeN = 0x6F;
constexpr std::uint8_t kDateTime2N = 0x2A;
constexpr std::uint8_t kGuid = 0x24;
constexpr std::uint8_t kBigChar = 0xAF;
constexpr std::uint8_t kBigVarChar = 0xA7;
constexpr std::uint8_t kNChar = 0xEF;
constexpr std::uint8_t kNVarChar = 0xE7;
constexpr std::uint8_t kBigBinary = 0xAD;
constexpr std::uint8_t kBigVarBinary = 0xA5;

constexpr std::uint16_t kMaxLength = 0xFFFF;
constexpr std::uint64_t kPlpNull = ~std::uint64_t{0};

void putU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void putLE(std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void putPlp(std::string& out, std::string_view data) {
    putLE(out, data.size(), 8);
    if (!data.empty()) {
        putLE(out, data.size(), 4);
        out.append(data);
    }
    putLE(out, 0, 4);
}

bool isMax(const ColumnType& t) {
    return t.length == ColumnType::kMax;
}

std::string collapseBlanks(std::string_view s) {
    std::string out;
    bool blank = false;
    for (const char c : s) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            blank = !out.empty();
            continue;
        }
        if (blank && c != '(' && c != ')' && c != ',' && !out.empty() && out.back() != '(' &&
            out.back() != ',')
            out.push_back(' ');
        blank = false;
        out.push_back(c);
    }
    return out;
}

struct Synonym {
    std::string_view name;
    SqlType type;
};

constexpr std::array<Synonym, 34> kNames = {{
    {"int", SqlType::Int},
    {"integer", SqlType::Int},
    {"bigint", SqlType::BigInt},
    {"smallint", SqlType::SmallInt},
    {"tinyint", SqlType::TinyInt},
    {"bit", SqlType::Bit},
    {"decimal", SqlType::Decimal},
    {"dec", SqlType::Decimal},
    {"numeric", SqlType::Numeric},
    {"money", SqlType::Money},
    {"smallmoney", SqlType::SmallMoney},
    {"float", SqlType::Float},
    {"double precision", SqlType::Float},
    {"real", SqlType::Real},
    {"date", SqlType::Date},
    {"time", SqlType::Time},
    {"datetime", SqlType::DateTime},
    {"smalldatetime", SqlType::SmallDateTime},
    {"datetime2", SqlType::DateTime2},
    {"uniqueidentifier", SqlType::UniqueIdentifier},
    {"char", SqlType::Char},
    {"character", SqlType::Char},
    {"varchar", SqlType::VarChar},
    {"char varying", SqlType::VarChar},
    {"character varying", SqlType::VarChar},
    {"nchar", SqlType::NChar},
    {"national char", SqlType::NChar},
    {"national character", SqlType::NChar},
    {"nvarchar", SqlType::NVarChar},
    {"national char varying", SqlType::NVarChar},
    {"national character varying", SqlType::NVarChar},
    {"binary", SqlType::Binary},
    {"varbinary", SqlType::VarBinary},
    {"binary varying", SqlType::VarBinary},
}};

bool parseSmallInt(std::string_view s, int& out) {
    if (s.empty() || s.size() > 6)
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

// ---- conversions of SQLite values -------------------------------------------------------------

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

// ---- dates and times --------------------------------------------------------------------------

struct DateTimeValue {
    std::int64_t days = 0;        // since 0001-01-01
    std::int64_t nanoseconds = 0; // since midnight
};

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468; // days since 1970-01-01
}

const std::int64_t kDay1 = daysFromCivil(1, 1, 1);
const std::int64_t kDay1900 = daysFromCivil(1900, 1, 1) - daysFromCivil(1, 1, 1);

bool readNumber(std::string_view s, std::size_t& i, std::size_t count, int& out) {
    if (i + count > s.size())
        return false;
    out = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const char c = s[i + k];
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + (c - '0');
    }
    i += count;
    return true;
}

bool parseTimeOfDay(std::string_view s, std::size_t& i, std::int64_t& nanos) {
    int h = 0, m = 0, sec = 0;
    if (!readNumber(s, i, 2, h) || i >= s.size() || s[i++] != ':' || !readNumber(s, i, 2, m))
        return false;
    std::int64_t fraction = 0;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!readNumber(s, i, 2, sec))
            return false;
        if (i < s.size() && s[i] == '.') {
            ++i;
            std::int64_t scale = 100000000;
            std::size_t digits = 0;
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                if (digits < 9)
                    fraction += (s[i] - '0') * scale;
                scale /= 10;
                ++digits;
                ++i;
            }
            if (digits == 0)
                return false;
        }
    }
    if (h > 23 || m > 59 || sec > 59)
        return false;
    nanos = ((std::int64_t{h} * 60 + m) * 60 + sec) * 1000000000 + fraction;
    return true;
}

bool parseDateTime(std::string_view text, DateTimeValue& out, bool timeOnly) {
    const std::string_view s = trimmed(text);
    std::size_t i = 0;
    if (timeOnly && s.size() >= 3 && s[2] == ':') {
        out.days = 0;
        return parseTimeOfDay(s, i, out.nanoseconds) && i == s.size();
    }
    int y = 0, m = 0, d = 0;
    if (!readNumber(s, i, 4, y) || i >= s.size() || s[i++] != '-' || !readNumber(s, i, 2, m) ||
        i >= s.size() || s[i++] != '-' || !readNumber(s, i, 2, d))
        return false;
    static constexpr std::array<int, 12> kMonthDays = {31, 29, 31, 30, 31, 30,
                                                       31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > kMonthDays[static_cast<std::size_t>(m - 1)] ||
        (m == 2 && d == 29 && !leap))
        return false;
    out.days = daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - kDay1;
    out.nanoseconds = 0;
    if (i == s.size())
        return true;
    if (s[i] != ' ' && s[i] != 'T')
        return false;
    ++i;
    return parseTimeOfDay(s, i, out.nanoseconds) && i == s.size();
}

DateTimeValue toDateTime(const Value& v, SqlType target) {
    DateTimeValue dt;
    if (v.kind != Value::Kind::Text || !parseDateTime(v.bytes, dt, target == SqlType::Time)) {
        if (v.kind == Value::Kind::Text)
            throw ValueError(241, "Conversion failed when converting date and/or time from "
                                  "character string.");
        conversionFailed(v, target);
    }
    return dt;
}

std::int64_t pow10(int n) {
    std::int64_t p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

int timeBytes(int scale) {
    return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

// Time of day in units of 10^-scale seconds, rounded; a carry into the next day moves days.
std::int64_t timeUnits(DateTimeValue& dt, int scale) {
    const std::int64_t divisor = pow10(9 - scale);
    std::int64_t units = (dt.nanoseconds + divisor / 2) / divisor;
    if (units >= 86400 * pow10(scale)) {
        units = 0;
        ++dt.days;
    }
    return units;
}

constexpr std::int64_t kMaxDay = 3652058; // 9999-12-31

void appendDateTimeValue(std::string& out, const ColumnType& t, const Value& v) {
    DateTimeValue dt = toDateTime(v, t.type);
    const auto outOfRange = [&] {
        throw ValueError(242, "The conversion of a varchar data type to a " +
                                  std::string(typeName(t.type)) +
                                  " data type resulted in an out-of-range value.");
    };
    switch (t.type) {
    case SqlType::Date:
        out.push_back(3);
        putLE(out, static_cast<std::uint64_t>(dt.days), 3);
        return;
    case SqlType::Time: {
        const std::int64_t units = timeUnits(dt, t.scale);
        out.push_back(static_cast<char>(timeBytes(t.scale)));
        putLE(out, static_cast<std::uint64_t>(units), timeBytes(t.scale));
        return;
    }
    case SqlType::DateTime2: {
        const std::int64_t units = timeUnits(dt, t.scale);
        if (dt.days > kMaxDay)
            outOfRange();
        out.push_back(static_cast<char>(timeBytes(t.scale) + 3));
        putLE(out, static_cast<std::uint64_t>(units), timeBytes(t.scale));
        putLE(out, static_cast<std::uint64_t>(dt.days), 3);
        return;
    }
    case SqlType::DateTime: {
        // 1/300 of a second, rounded as SQL Server rounds.
        std::int64_t ticks = (dt.nanoseconds * 3 + 5000000) / 10000000;
        if (ticks >= 300LL * 86400) {
            ticks = 0;
            ++dt.days;
        }
        const std::int64_t days = dt.days - kDay1900;
        if (dt.days < daysFromCivil(1753, 1, 1) - kDay1 || dt.days > kMaxDay)
            outOfRange();
        out.push_back(8);
        putLE(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(days)), 4);
        putLE(out, static_cast<std::uint64_t>(ticks), 4);
        return;
    }
    case SqlType::SmallDateTime: {
        std::int64_t minutes = (dt.nanoseconds + 30000000000LL) / 60000000000LL;
        if (minutes >= 1440) {
            minutes = 0;
            ++dt.days;
        }
        const std::int64_t days = dt.days - kDay1900;
        if (days < 0 || days > 65535)
            outOfRange();
        out.push_back(4);
        putLE(out, static_cast<std::uint64_t>(days), 2);
        putLE(out, static_cast<std::uint64_t>(minutes), 2);
        return;
    }
    default:
        return;
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendGuid(std::string& out, const Value& v) {
    std::array<unsigned char, 16> bytes{};
    if (v.kind == Value::Kind::Blob && v.bytes.size() == 16) {
        std::memcpy(bytes.data(), v.bytes.data(), 16);
    } else {
        std::string_view s = v.kind == Value::Kind::Text ? trimmed(v.bytes) : std::string_view();
        if (s.size() == 38 && s.front() == '{' && s.back() == '}')
            s = s.substr(1, 36);
        std::array<unsigned char, 16> text{};
        bool ok = s.size() == 36;
        std::size_t n = 0;
        for (std::size_t i = 0; ok && i < s.size(); ++i) {
            if (i == 8 || i == 13 || i == 18 || i == 23) {
                ok = s[i] == '-';
                continue;
            }
            const int hi = hexDigit(s[i]);
            const int lo = i + 1 < s.size() ? hexDigit(s[i + 1]) : -1;
            ok = hi >= 0 && lo >= 0;
            if (ok)
                text[n++] = static_cast<unsigned char>(hi * 16 + lo);
            ++i;
        }
        if (!ok || n != 16)
            throw ValueError(8169, "Conversion failed when converting from a character string "
                                   "to uniqueidentifier.");
        // The first three groups go little-endian.
        static constexpr std::array<int, 16> kOrder = {3, 2, 1,  0,  5,  4,  7,  6,
                                                       8, 9, 10, 11, 12, 13, 14, 15};
        for (std::size_t i = 0; i < 16; ++i)
            bytes[i] = text[static_cast<std::size_t>(kOrder[i])];
    }
    out.push_back(16);
    out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

[[noreturn]] void truncated() {
    throw ValueError(8152, "String or binary data would be truncated.");
}

void appendVariable(std::string& out, const ColumnType& t, std::string_view data) {
    if (isMax(t)) {
        putPlp(out, data);
        return;
    }
    putU16(out, static_cast<std::uint16_t>(data.size()));
    out.append(data);
}

void appendText(std::string& out, const ColumnType& t, const Value& v) {
    std::string converted;
    std::string_view text = v.bytes;
    if (v.kind != Value::Kind::Text && v.kind != Value::Kind::Blob) {
        converted = valueText(v);
        text = converted;
    }
    const bool national = t.type == SqlType::NChar || t.type == SqlType::NVarChar;
    const std::size_t unit = national ? 2 : 1;
    // The value is converted straight into the row, behind room for its length, which is
    // filled in afterwards: rows are the hot path of every result.
    const std::size_t lengthAt = out.size();
    const std::size_t prefix = isMax(t) ? 12 : 2; // PLP: total length and the chunk's length
    out.append(prefix, '\0');
    const std::size_t dataAt = out.size();
    if (national)
        appendUtf16le(out, text);
    else
        appendCp1252(out, text);
    std::size_t size = out.size() - dataAt;
    if (!isMax(t) && size > static_cast<std::size_t>(t.length) * unit) {
        out.resize(lengthAt);
        truncated();
    }
    if (t.type == SqlType::Char || t.type == SqlType::NChar) {
        for (; size < static_cast<std::size_t>(t.length) * unit; size += unit) {
            out.push_back(' ');
            if (national)
                out.push_back('\0');
        }
    }
    if (!isMax(t)) {
        out[lengthAt] = static_cast<char>(size & 0xFF);
        out[lengthAt + 1] = static_cast<char>(size >> 8);
        return;
    }
    for (int i = 0; i < 8; ++i)
        out[lengthAt + static_cast<std::size_t>(i)] =
            static_cast<char>((std::uint64_t{size} >> (8 * i)) & 0xFF);
    if (size == 0) {
        out.resize(lengthAt + 8); // no chunk, only the terminator
    } else {
        for (int i = 0; i < 4; ++i)
            out[lengthAt + 8 + static_cast<std::size_t>(i)] =
                static_cast<char>((size >> (8 * i)) & 0xFF);
    }
    putLE(out, 0, 4);
}

void appendBinary(std::string& out, const ColumnType& t, const Value& v) {
    if (v.kind != Value::Kind::Blob && v.kind != Value::Kind::Text)
        conversionFailed(v, t.type);
    std::string data(v.bytes);
    if (!isMax(t) && data.size() > static_cast<std::size_t>(t.length))
        truncated();
    if (t.type == SqlType::Binary)
        data.resize(static_cast<std::size_t>(t.length), '\0');
    appendVariable(out, t, data);
}

void appendNull(std::string& out, const ColumnType& t) {
    switch (t.type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::Binary:
    case SqlType::VarBinary:
        if (isMax(t))
            putLE(out, kPlpNull, 8);
        else
            putU16(out, 0xFFFF);
        return;
    default:
        out.push_back(0);
        return;
    }
}

} // namespace

std::optional<ColumnType> parseDeclaredType(std::string_view declared) {
    const std::string text = collapseBlanks(asciiLower(declared));
    const std::size_t paren = text.find('(');
    std::string_view name = std::string_view(text).substr(0, paren);
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    std::vector<std::string_view> args;
    if (paren != std::string::npos) {
        if (text.back() != ')')
            return std::nullopt;
        std::string_view inside = std::string_view(text).substr(paren + 1);
        inside.remove_suffix(1);
        while (true) {
            const std::size_t comma = inside.find(',');
            args.push_back(trimmed(inside.substr(0, comma)));
            if (comma == std::string_view::npos)
                break;
            inside.remove_prefix(comma + 1);
        }
    }
    const Synonym* found = nullptr;
    for (const Synonym& s : kNames) {
        if (s.name == name)
            found = &s;
    }
    if (!found)
        return std::nullopt;

    ColumnType t;
    t.type = found->type;
    t.length = 0;
    std::array<int, 2> n{};
    for (std::size_t k = 0; k < args.size(); ++k) {
        if (k >= 2 || !parseSmallInt(args[k], n[k])) {
            if (k == 0 && args.size() == 1 && args[0] == "max")
                n[0] = ColumnType::kMax;
            else
                return std::nullopt;
        }
    }
    switch (t.type) {
    case SqlType::Decimal:
    case SqlType::Numeric:
        t.precision = args.empty() ? 18 : n[0];
        t.scale = args.size() < 2 ? 0 : n[1];
        if (t.precision < 1 || t.precision > 38 || t.scale < 0 || t.scale > t.precision)
            return std::nullopt;
        return t;
    case SqlType::Float:
        if (args.size() > 1 || (args.size() == 1 && (n[0] < 1 || n[0] > 53)))
            return std::nullopt;
        if (args.size() == 1 && n[0] <= 24)
            t.type = SqlType::Real;
        return t;
    case SqlType::Time:
    case SqlType::DateTime2:
        t.scale = args.empty() ? 7 : n[0];
        if (args.size() > 1 || t.scale < 0 || t.scale > 7)
            return std::nullopt;
        return t;
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::Binary:
    case SqlType::VarBinary: {
        if (args.size() > 1)
            return std::nullopt;
        const bool fixed =
            t.type == SqlType::Char || t.type == SqlType::NChar || t.type == SqlType::Binary;
        const int limit = (t.type == SqlType::NChar || t.type == SqlType::NVarChar) ? 4000 : 8000;
        t.length = args.empty() ? (fixed ? 1 : ColumnType::kMax) : n[0];
        if (t.length == ColumnType::kMax ? fixed : (t.length < 1 || t.length > limit))
            return std::nullopt;
        return t;
    }
    default:
        if (!args.empty())
            return std::nullopt;
        return t;
    }
}

ColumnType columnTypeFor(const char* declared) {
    if (declared) {
        if (auto t = parseDeclaredType(declared))
            return *t;
    }
    return ColumnType{};
}

std::string_view typeName(SqlType type) {
    switch (type) {
    case SqlType::Int:
        return "int";
    case SqlType::BigInt:
        return "bigint";
    case SqlType::SmallInt:
        return "smallint";
    case SqlType::TinyInt:
        return "tinyint";
    case SqlType::Bit:
        return "bit";
    case SqlType::Decimal:
        return "decimal";
    case SqlType::Numeric:
        return "numeric";
    case SqlType::Money:
        return "money";
    case SqlType::SmallMoney:
        return "smallmoney";
    case SqlType::Float:
        return "float";
    case SqlType::Real:
        return "real";
    case SqlType::Date:
        return "date";
    case SqlType::Time:
        return "time";
    case SqlType::DateTime:
        return "datetime";
    case SqlType::SmallDateTime:
        return "smalldatetime";
    case SqlType::DateTime2:
        return "datetime2";
    case SqlType::UniqueIdentifier:
        return "uniqueidentifier";
    case SqlType::Char:
        return "char";
    case SqlType::VarChar:
        return "varchar";
    case SqlType::NChar:
        return "nchar";
    case SqlType::NVarChar:
        return "nvarchar";
    case SqlType::Binary:
        return "binary";
    case SqlType::VarBinary:
        return "varbinary";
    }
    return "sql_variant";
}

void appendTypeInfo(std::string& out, const ColumnType& t) {
    const auto typeAndSize = [&](std::uint8_t type, int size) {
        out.push_back(static_cast<char>(type));
        out.push_back(static_cast<char>(size));
    };
    const auto lengthOf = [&](int unit) {
        return isMax(t) ? kMaxLength : static_cast<std::uint16_t>(t.length * unit);
    };
    switch (t.type) {
    case SqlType::Int:
        return typeAndSize(kIntN, 4);
    case SqlType::BigInt:
        return typeAndSize(kIntN, 8);
    case SqlType::SmallInt:
        return typeAndSize(kIntN, 2);
    case SqlType::TinyInt:
        return typeAndSize(kIntN, 1);
    case SqlType::Bit:
        return typeAndSize(kBitN, 1);
    case SqlType::Decimal:
    case SqlType::Numeric:
        typeAndSize(t.type == SqlType::Decimal ? kDecimalN : kNumericN,
                    1 + decimalBytes(t.precision));
        out.push_back(static_cast<char>(t.precision));
        out.push_back(static_cast<char>(t.scale));
        return;
    case SqlType::Money:
        return typeAndSize(kMoneyN, 8);
    case SqlType::SmallMoney:
        return typeAndSize(kMoneyN, 4);
    case SqlType::Float:
        return typeAndSize(kFltN, 8);
    case SqlType::Real:
        return typeAndSize(kFltN, 4);
    case SqlType::Date:
        out.push_back(static_cast<char>(kDateN));
        return;
    case SqlType::Time:
        return typeAndSize(kTimeN, t.scale);
    case SqlType::DateTime:
        return typeAndSize(kDateTimeN, 8);
    case SqlType::SmallDateTime:
        return typeAndSize(kDateTimeN, 4);
    case SqlType::DateTime2:
        return typeAndSize(kDateTime2N, t.scale);
    case SqlType::UniqueIdentifier:
        return typeAndSize(kGuid, 16);
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar: {
        const bool national = t.type == SqlType::NChar || t.type == SqlType::NVarChar;
        const bool fixed = t.type == SqlType::Char || t.type == SqlType::NChar;
        out.push_back(static_cast<char>(national ? (fixed ? kNChar : kNVarChar)
                                                 : (fixed ? kBigChar : kBigVarChar)));
        putU16(out, lengthOf(national ? 2 : 1));
        out.append(kCollation, sizeof kCollation);
        return;
    }
    case SqlType::Binary:
    case SqlType::VarBinary:
        out.push_back(static_cast<char>(t.type == SqlType::Binary ? kBigBinary : kBigVarBinary));
        putU16(out, lengthOf(1));
        return;
    }
}

void appendValue(std::string& out, const ColumnType& t, const Value& v) {
    if (v.kind == Value::Kind::Null)
        return appendNull(out, t);
    switch (t.type) {
    case SqlType::Int:
    case SqlType::BigInt:
    case SqlType::SmallInt:
    case SqlType::TinyInt: {
        const std::int64_t n = toInteger(v, t.type);
        int bytes = 8;
        bool fits = true;
        if (t.type == SqlType::Int) {
            bytes = 4;
            fits = n >= std::numeric_limits<std::int32_t>::min() &&
                   n <= std::numeric_limits<std::int32_t>::max();
        } else if (t.type == SqlType::SmallInt) {
            bytes = 2;
            fits = n >= -32768 && n <= 32767;
        } else if (t.type == SqlType::TinyInt) {
            bytes = 1;
            fits = n >= 0 && n <= 255;
        }
        if (!fits) {
            throw ValueError(220, "Arithmetic overflow error for data type " +
                                      std::string(typeName(t.type)) +
                                      ", value = " + std::to_string(n) + ".");
        }
        out.push_back(static_cast<char>(bytes));
        putLE(out, static_cast<std::uint64_t>(n), bytes);
        return;
    }
    case SqlType::Bit: {
        bool bit = false;
        if (v.kind == Value::Kind::Text && equalsIgnoreCase(trimmed(v.bytes), "true"))
            bit = true;
        else if (v.kind == Value::Kind::Text && equalsIgnoreCase(trimmed(v.bytes), "false"))
            bit = false;
        else if (v.kind == Value::Kind::Real)
            bit = v.real != 0;
        else
            bit = toInteger(v, t.type) != 0;
        out.push_back(1);
        out.push_back(bit ? 1 : 0);
        return;
    }
    case SqlType::Decimal:
    case SqlType::Numeric:
        return appendDecimal(out, t, v);
    case SqlType::Money:
    case SqlType::SmallMoney:
        return appendMoney(out, t, v);
    case SqlType::Float: {
        const double d = toDouble(v, t.type);
        std::uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof d);
        out.push_back(8);
        putLE(out, bits, 8);
        return;
    }
    case SqlType::Real: {
        const double d = toDouble(v, t.type);
        if (std::fabs(d) > std::numeric_limits<float>::max())
            overflow(t.type);
        const auto f = static_cast<float>(d);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof f);
        out.push_back(4);
        putLE(out, bits, 4);
        return;
    }
    case SqlType::Date:
    case SqlType::Time:
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
    case SqlType::DateTime2:
        return appendDateTimeValue(out, t, v);
    case SqlType::UniqueIdentifier:
        return appendGuid(out, v);
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
        return appendText(out, t, v);
    case SqlType::Binary:
    case SqlType::VarBinary:
        return appendBinary(out, t, v);
    }
}

} // namespace tdsserver
