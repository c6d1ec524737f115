// The row value encoder: a SQLite value as it stands in a ROW token, by the column's type.

#include "columns.h"

#include "columns_detail.h"
#include "text.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace tdsserver {
using namespace detail;
namespace {

constexpr std::uint64_t kPlpNull = ~std::uint64_t{0};

void putPlp(std::string& out, std::string_view data) {
    putLE(out, data.size(), 8);
    if (!data.empty()) {
        putLE(out, data.size(), 4);
        out.append(data);
    }
    putLE(out, 0, 4);
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

void appendText(std::string& out, const ColumnType& t, const Value& v, std::int64_t textSize) {
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
    if (isMax(t) && size > static_cast<std::uint64_t>(textSize)) {
        size = static_cast<std::size_t>(textSize) / unit * unit;
        out.resize(dataAt + size);
    }
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

void appendBinary(std::string& out, const ColumnType& t, const Value& v, std::int64_t textSize) {
    if (v.kind != Value::Kind::Blob && v.kind != Value::Kind::Text)
        conversionFailed(v, t.type);
    std::string data(v.bytes);
    if (isMax(t) && data.size() > static_cast<std::uint64_t>(textSize))
        data.resize(static_cast<std::size_t>(textSize));
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

void appendValue(std::string& out, const ColumnType& t, const Value& v, std::int64_t textSize) {
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
        return appendText(out, t, v, textSize);
    case SqlType::Binary:
    case SqlType::VarBinary:
        return appendBinary(out, t, v, textSize);
    }
}

} // namespace tdsserver
