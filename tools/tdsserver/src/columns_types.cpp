// The declared column types: which SQL Server type a declaration names, its name, and its
// TYPE_INFO in COLMETADATA.

#include "columns.h"
#include "columns_detail.h"
#include "text.h"
#include "tokens.h"

#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <vector>

namespace tdsserver {
using namespace detail;
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
constexpr std::uint8_t kDateTimeOffsetN = 0x2B;
constexpr std::uint8_t kText = 0x23;
constexpr std::uint8_t kNText = 0x63;
constexpr std::uint8_t kImage = 0x22;
constexpr std::uint8_t kXml = 0xF1;
constexpr std::uint8_t kVariant = 0x62;

constexpr std::uint16_t kMaxLength = 0xFFFF;

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

constexpr std::array<Synonym, 40> kNames = {{
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
    {"datetimeoffset", SqlType::DateTimeOffset},
    {"text", SqlType::Text},
    {"ntext", SqlType::NText},
    {"image", SqlType::Image},
    {"xml", SqlType::Xml},
    {"sql_variant", SqlType::Variant},
}};

bool parseSmallInt(std::string_view s, int& out) {
    if (s.empty() || s.size() > 6)
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
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
    case SqlType::DateTimeOffset:
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
    case SqlType::Text:
    case SqlType::NText:
    case SqlType::Image:
    case SqlType::Xml:
        if (!args.empty())
            return std::nullopt;
        t.length = ColumnType::kMax;
        return t;
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
    case SqlType::DateTimeOffset:
        return "datetimeoffset";
    case SqlType::Text:
        return "text";
    case SqlType::NText:
        return "ntext";
    case SqlType::Image:
        return "image";
    case SqlType::Xml:
        return "xml";
    case SqlType::Variant:
        return "sql_variant";
    }
    return "sql_variant";
}

ColumnType detail::wireType(const ColumnType& t, std::uint32_t tdsVersion) {
    if (olderThan(tdsVersion, kTds73)) {
        switch (t.type) {
        case SqlType::Date:
        case SqlType::Time:
        case SqlType::DateTime2:
        case SqlType::DateTimeOffset:
            return ColumnType{SqlType::NVarChar, dateTimeTextLength(t), 0, 0};
        default:
            break;
        }
    }
    if (olderThan(tdsVersion, kTds72)) {
        if (t.type == SqlType::Xml)
            return ColumnType{SqlType::NText, ColumnType::kMax, 0, 0};
        if (isMax(t)) {
            switch (t.type) {
            case SqlType::VarChar:
                return ColumnType{SqlType::Text, ColumnType::kMax, 0, 0};
            case SqlType::NVarChar:
                return ColumnType{SqlType::NText, ColumnType::kMax, 0, 0};
            case SqlType::VarBinary:
                return ColumnType{SqlType::Image, ColumnType::kMax, 0, 0};
            default:
                break;
            }
        }
    }
    return t;
}

std::uint8_t detail::variantBaseType(SqlType type) {
    switch (type) {
    case SqlType::Int:
        return 0x38;
    case SqlType::BigInt:
        return 0x7F;
    case SqlType::SmallInt:
        return 0x34;
    case SqlType::TinyInt:
        return 0x30;
    case SqlType::Bit:
        return 0x32;
    case SqlType::Decimal:
        return kDecimalN;
    case SqlType::Numeric:
        return kNumericN;
    case SqlType::Money:
        return 0x3C;
    case SqlType::SmallMoney:
        return 0x7A;
    case SqlType::Float:
        return 0x3E;
    case SqlType::Real:
        return 0x3B;
    case SqlType::Date:
        return kDateN;
    case SqlType::Time:
        return kTimeN;
    case SqlType::DateTime:
        return 0x3D;
    case SqlType::SmallDateTime:
        return 0x3A;
    case SqlType::DateTime2:
        return kDateTime2N;
    case SqlType::DateTimeOffset:
        return kDateTimeOffsetN;
    case SqlType::UniqueIdentifier:
        return kGuid;
    case SqlType::Char:
        return kBigChar;
    case SqlType::VarChar:
        return kBigVarChar;
    case SqlType::NChar:
        return kNChar;
    case SqlType::NVarChar:
        return kNVarChar;
    case SqlType::Binary:
        return kBigBinary;
    case SqlType::VarBinary:
        return kBigVarBinary;
    default:
        return 0;
    }
}

void appendTypeInfo(std::string& out, const ColumnType& declared, std::uint32_t tdsVersion,
                    const ColumnOrigin& origin) {
    const ColumnType t = wireType(declared, tdsVersion);
    const auto typeAndSize = [&](std::uint8_t type, int size) {
        out.push_back(static_cast<char>(type));
        out.push_back(static_cast<char>(size));
    };
    const auto lengthOf = [&](int unit) {
        return isMax(t) ? kMaxLength : static_cast<std::uint16_t>(t.length * unit);
    };
    // The table a text, ntext or image column comes from: one name below TDS 7.2, its parts
    // from there on.
    const auto tableName = [&] {
        const auto part = [&](std::string_view name) {
            const std::string wide = toUtf16le(name);
            putU16(out, static_cast<std::uint16_t>(wide.size() / 2));
            out += wide;
        };
        if (olderThan(tdsVersion, kTds72)) {
            part(origin.table.empty()
                     ? std::string()
                     : (origin.schema.empty() ? "" : origin.schema + ".") + origin.table);
            return;
        }
        if (origin.table.empty()) {
            out.push_back(0);
            return;
        }
        out.push_back(origin.schema.empty() ? 1 : 2);
        if (!origin.schema.empty())
            part(origin.schema);
        part(origin.table);
    };
    switch (t.type) {
    case SqlType::DateTimeOffset:
        return typeAndSize(kDateTimeOffsetN, t.scale);
    case SqlType::Text:
    case SqlType::NText:
        out.push_back(static_cast<char>(t.type == SqlType::Text ? kText : kNText));
        putLE(out, t.type == SqlType::Text ? 0x7FFFFFFF : 0x7FFFFFFE, 4);
        out.append(kCollation, sizeof kCollation);
        return tableName();
    case SqlType::Image:
        out.push_back(static_cast<char>(kImage));
        putLE(out, 0x7FFFFFFF, 4);
        return tableName();
    case SqlType::Xml:
        out.push_back(static_cast<char>(kXml));
        out.push_back(0); // no schema collection
        return;
    case SqlType::Variant:
        out.push_back(static_cast<char>(kVariant));
        putLE(out, 8016, 4);
        return;
    default:
        break;
    }
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
    default:
        return;
    }
}

} // namespace tdsserver
