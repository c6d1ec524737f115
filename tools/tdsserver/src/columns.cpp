// The row value encoder: a SQLite value as it stands in a ROW token, by the column's type.

#include "columns.h"

#include "columns_detail.h"
#include "text.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

namespace tdsserver {
using namespace detail;
namespace {

constexpr std::uint64_t kPlpNull = ~std::uint64_t{0};

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

// Where the length of a string value goes, and what comes before it.
enum class Layout {
    Short,       // a two-byte length: char, varchar, nchar, nvarchar, binary, varbinary
    Plp,         // partly length-prefixed: the (max) types and xml
    TextPointer, // text, ntext and image: a text pointer and timestamp, then a four-byte length
};

Layout layoutOf(const ColumnType& t) {
    switch (t.type) {
    case SqlType::Text:
    case SqlType::NText:
    case SqlType::Image:
        return Layout::TextPointer;
    case SqlType::Xml:
        return Layout::Plp;
    default:
        return isMax(t) ? Layout::Plp : Layout::Short;
    }
}

constexpr std::size_t kTextPointerBytes = 16;
constexpr std::size_t kTimestampBytes = 8;

// Room for what precedes the data; the lengths in it are filled in by finishLengths.
std::size_t prefixBytes(Layout layout) {
    switch (layout) {
    case Layout::Short:
        return 2;
    case Layout::Plp:
        return 12; // the total length and the one chunk's length
    case Layout::TextPointer:
        return 1 + kTextPointerBytes + kTimestampBytes + 4;
    }
    return 2;
}

void putAt(std::string& out, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Fills in the prefix written at lengthAt for `size` bytes of data behind it, and ends a PLP value.
void finishLengths(std::string& out, Layout layout, std::size_t lengthAt, std::size_t size,
                   const ValueContext& c) {
    switch (layout) {
    case Layout::Short:
        putAt(out, lengthAt, size, 2);
        return;
    case Layout::TextPointer: {
        // A text pointer names the row and column the value lives in, as a server's pointer
        // into its pages would; the timestamp is the row's.
        std::size_t at = lengthAt;
        out[at++] = static_cast<char>(kTextPointerBytes);
        putAt(out, at, c.row, 8);
        putAt(out, at + 8, static_cast<std::uint32_t>(c.column), 4);
        putAt(out, at + 12, 0x59424C54, 4); // "TLBY"
        at += kTextPointerBytes;
        putAt(out, at, c.row + 1, 8);
        at += kTimestampBytes;
        putAt(out, at, size, 4);
        return;
    }
    case Layout::Plp:
        putAt(out, lengthAt, size, 8);
        if (size == 0) {
            out.resize(lengthAt + 8); // no chunk, only the terminator
        } else {
            putAt(out, lengthAt + 8, size, 4);
        }
        putLE(out, 0, 4);
        return;
    }
}

bool isNational(SqlType type) {
    return type == SqlType::NChar || type == SqlType::NVarChar || type == SqlType::NText ||
           type == SqlType::Xml;
}

void appendText(std::string& out, const ColumnType& t, const Value& v, const ValueContext& c) {
    std::string converted;
    std::string_view text = v.bytes;
    if (v.kind != Value::Kind::Text && v.kind != Value::Kind::Blob) {
        converted = valueText(v);
        text = converted;
    }
    const bool national = isNational(t.type);
    const std::size_t unit = national ? 2 : 1;
    const Layout layout = layoutOf(t);
    // The value is converted straight into the row, behind room for its length, which is
    // filled in afterwards: rows are the hot path of every result.
    const std::size_t lengthAt = out.size();
    out.append(prefixBytes(layout), '\0');
    const std::size_t dataAt = out.size();
    if (national)
        appendUtf16le(out, text);
    else
        appendCp1252(out, text);
    std::size_t size = out.size() - dataAt;
    // SET TEXTSIZE cuts every long type but xml.
    if (layout != Layout::Short && t.type != SqlType::Xml &&
        size > static_cast<std::uint64_t>(c.textSize)) {
        size = static_cast<std::size_t>(c.textSize) / unit * unit;
        out.resize(dataAt + size);
    }
    if (layout == Layout::Short && size > static_cast<std::size_t>(t.length) * unit) {
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
    finishLengths(out, layout, lengthAt, size, c);
}

void appendBinary(std::string& out, const ColumnType& t, const Value& v, const ValueContext& c) {
    if (v.kind != Value::Kind::Blob && v.kind != Value::Kind::Text)
        conversionFailed(v, t.type);
    const Layout layout = layoutOf(t);
    std::string_view data = v.bytes;
    if (layout != Layout::Short && data.size() > static_cast<std::uint64_t>(c.textSize))
        data = data.substr(0, static_cast<std::size_t>(c.textSize));
    if (layout == Layout::Short && data.size() > static_cast<std::size_t>(t.length))
        truncated();
    const std::size_t lengthAt = out.size();
    out.append(prefixBytes(layout), '\0');
    out.append(data);
    std::size_t size = data.size();
    if (t.type == SqlType::Binary) {
        out.append(static_cast<std::size_t>(t.length) - size, '\0');
        size = static_cast<std::size_t>(t.length);
    }
    finishLengths(out, layout, lengthAt, size, c);
}

void appendNull(std::string& out, const ColumnType& t) {
    switch (layoutOf(t)) {
    case Layout::Plp:
        putLE(out, kPlpNull, 8);
        return;
    case Layout::TextPointer:
        out.push_back(0); // no text pointer
        return;
    case Layout::Short:
        break;
    }
    switch (t.type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::Binary:
    case SqlType::VarBinary:
        putU16(out, 0xFFFF);
        return;
    case SqlType::Variant:
        putLE(out, 0, 4);
        return;
    default:
        out.push_back(0);
        return;
    }
}

[[noreturn]] void clash(SqlType type) {
    throw ValueError(206, "Operand type clash: " + std::string(typeName(type)) +
                              " is incompatible with sql_variant");
}

// A value spelled CAST(<literal> AS <type>): the type, and the literal as a SQLite value
// (quoted: text, 0x...: a blob, NULL, anything else: text the type's conversion reads).
struct CastValue {
    ColumnType type;
    Value value;
    std::string storage;
    bool explicitMax = false; // (max): a type no variant holds
};

std::optional<CastValue> parseCast(std::string_view text) {
    const std::string_view s = trimmed(text);
    const std::string lower = asciiLower(s);
    if (lower.size() < 10 || lower.compare(0, 5, "cast(") != 0 || lower.back() != ')')
        return std::nullopt;
    const std::size_t as = lower.rfind(" as ");
    if (as == std::string::npos || as < 5)
        return std::nullopt;
    CastValue cast;
    const auto type = parseDeclaredType(s.substr(as + 4, s.size() - as - 5));
    if (!type)
        return std::nullopt;
    cast.type = *type;
    cast.explicitMax = lower.find("max", as) != std::string::npos;
    std::string_view literal = trimmed(s.substr(5, as - 5));
    if ((literal.size() >= 3 && (literal[0] == 'N' || literal[0] == 'n') && literal[1] == '\'') ||
        (literal.size() >= 2 && literal[0] == '\'')) {
        literal.remove_prefix(literal[0] == '\'' ? 1 : 2);
        if (literal.empty() || literal.back() != '\'')
            return std::nullopt;
        literal.remove_suffix(1);
        for (std::size_t i = 0; i < literal.size(); ++i) {
            cast.storage.push_back(literal[i]);
            if (literal[i] == '\'' && i + 1 < literal.size() && literal[i + 1] == '\'')
                ++i;
        }
        cast.value.kind = Value::Kind::Text;
    } else if (literal.size() >= 2 && literal[0] == '0' &&
               (literal[1] == 'x' || literal[1] == 'X')) {
        for (std::size_t i = 2; i + 1 < literal.size() + 1; i += 2) {
            const int hi = hexDigit(literal[i]);
            const int lo = i + 1 < literal.size() ? hexDigit(literal[i + 1]) : -1;
            if (hi < 0 || lo < 0)
                return std::nullopt;
            cast.storage.push_back(static_cast<char>(hi * 16 + lo));
        }
        cast.value.kind = Value::Kind::Blob;
    } else if (equalsIgnoreCase(literal, "null")) {
        cast.value.kind = Value::Kind::Null;
        return cast;
    } else {
        cast.storage = std::string(literal);
        cast.value.kind = Value::Kind::Text;
    }
    return cast;
}

// A sql_variant value's base type and its value in that type; `cast` holds the parsed
// CAST(... AS type) the value was written as, if any, whose storage the value's bytes point to
// (hence filled in place, never copied).
struct VariantBase {
    ColumnType type;
    Value value;
    std::optional<CastValue> cast;

    VariantBase() = default;
    VariantBase(const VariantBase&) = delete;
    VariantBase& operator=(const VariantBase&) = delete;
};

void variantBaseOf(const Value& v, VariantBase& b) {
    ColumnType& base = b.type;
    Value& value = b.value;
    std::optional<CastValue>& cast = b.cast;
    value = v;
    switch (v.kind) {
    case Value::Kind::Integer:
        base.type = v.integer >= std::numeric_limits<std::int32_t>::min() &&
                            v.integer <= std::numeric_limits<std::int32_t>::max()
                        ? SqlType::Int
                        : SqlType::BigInt;
        break;
    case Value::Kind::Real:
        base.type = SqlType::Float;
        break;
    case Value::Kind::Blob:
        base = ColumnType{SqlType::VarBinary, static_cast<int>(v.bytes.size()), 0, 0};
        break;
    default:
        cast = parseCast(v.bytes);
        if (cast) {
            base = cast->type;
            value = cast->value;
        } else {
            base = ColumnType{SqlType::NVarChar, static_cast<int>(utf16Length(v.bytes)), 0, 0};
        }
        break;
    }
    if (cast)
        value.bytes = cast->storage;
}

void appendVariant(std::string& out, const Value& v, const ValueContext& c) {
    VariantBase b;
    variantBaseOf(v, b);
    ColumnType& base = b.type;
    Value& value = b.value;
    const std::optional<CastValue>& cast = b.cast;
    if (value.kind == Value::Kind::Null) {
        putLE(out, 0, 4);
        return;
    }
    // Clients older than TDS 7.3 know no date and time types: the value goes as its text.
    std::string text;
    if (olderThan(c.tdsVersion, kTds73) &&
        (base.type == SqlType::Date || base.type == SqlType::Time ||
         base.type == SqlType::DateTime2 || base.type == SqlType::DateTimeOffset)) {
        text = dateTimeText(base, value);
        base = ColumnType{SqlType::NVarChar, static_cast<int>(text.size()), 0, 0};
        value = Value{Value::Kind::Text, 0, 0, text};
    }
    // Strings and binary strings without a length take the value's.
    const bool national = base.type == SqlType::NChar || base.type == SqlType::NVarChar;
    const bool stringType = national || base.type == SqlType::Char ||
                            base.type == SqlType::VarChar || base.type == SqlType::Binary ||
                            base.type == SqlType::VarBinary;
    if (stringType && isMax(base)) {
        if (cast && cast->explicitMax)
            clash(base.type);
        base.length = value.kind == Value::Kind::Text && national
                          ? static_cast<int>(utf16Length(value.bytes))
                          : static_cast<int>(value.bytes.size());
    }
    if (stringType && base.length == 0)
        base.length = 1;
    if (stringType && base.length * (national ? 2 : 1) > 8000)
        truncated();
    const std::uint8_t baseType = variantBaseType(base.type);
    if (baseType == 0)
        clash(base.type);

    std::string data;
    appendValue(data, base, value);
    data.erase(0, stringType ? 2 : 1); // the base type's own length goes
    std::string properties;
    switch (base.type) {
    case SqlType::Decimal:
    case SqlType::Numeric:
        properties.push_back(static_cast<char>(base.precision));
        properties.push_back(static_cast<char>(base.scale));
        break;
    case SqlType::Time:
    case SqlType::DateTime2:
    case SqlType::DateTimeOffset:
        properties.push_back(static_cast<char>(base.scale));
        break;
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
        properties.append(kCollation, sizeof kCollation);
        putU16(properties, static_cast<std::uint16_t>(base.length * (national ? 2 : 1)));
        break;
    case SqlType::Binary:
    case SqlType::VarBinary:
        putU16(properties, static_cast<std::uint16_t>(base.length));
        break;
    default:
        break;
    }
    putLE(out, 2 + properties.size() + data.size(), 4);
    out.push_back(static_cast<char>(baseType));
    out.push_back(static_cast<char>(properties.size()));
    out += properties;
    out += data;
}

} // namespace

std::optional<std::string> variantBaseTypeName(const Value& v) {
    VariantBase b;
    variantBaseOf(v, b);
    if (b.value.kind == Value::Kind::Null)
        return std::nullopt;
    if ((b.cast && b.cast->explicitMax && isMax(b.type)) || variantBaseType(b.type.type) == 0)
        clash(b.type.type);
    return std::string(typeName(b.type.type));
}

void appendValue(std::string& out, const ColumnType& declared, const Value& v,
                 const ValueContext& c) {
    const ColumnType t = wireType(declared, c.tdsVersion);
    if (v.kind == Value::Kind::Null)
        return appendNull(out, t);
    if (t.type != declared.type && t.type == SqlType::NVarChar) {
        // A date or time type to a client that does not know it: its text.
        const std::string text = dateTimeText(declared, v);
        return appendText(out, t, Value{Value::Kind::Text, 0, 0, text}, c);
    }
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
        // SQL Server holds no infinity or NaN.
        const double d = toDouble(v, t.type);
        if (!std::isfinite(d))
            overflow(t.type);
        std::uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof d);
        out.push_back(8);
        putLE(out, bits, 8);
        return;
    }
    case SqlType::Real: {
        const double d = toDouble(v, t.type);
        if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max())
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
    case SqlType::DateTimeOffset:
        return appendDateTimeValue(out, t, v);
    case SqlType::UniqueIdentifier:
        return appendGuid(out, v);
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::Text:
    case SqlType::NText:
    case SqlType::Xml:
        return appendText(out, t, v, c);
    case SqlType::Binary:
    case SqlType::VarBinary:
    case SqlType::Image:
        return appendBinary(out, t, v, c);
    case SqlType::Variant:
        return appendVariant(out, v, c);
    }
}

} // namespace tdsserver
