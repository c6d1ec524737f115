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

} // namespace tdsserver
