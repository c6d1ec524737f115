#pragma once

// Result columns: which SQL Server type a column's declared type stands for, how that type is
// described in COLMETADATA, and how a SQLite value of the column is encoded in a row.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tdsserver {

enum class SqlType {
    Int,
    BigInt,
    SmallInt,
    TinyInt,
    Bit,
    Decimal,
    Numeric,
    Money,
    SmallMoney,
    Float,
    Real,
    Date,
    Time,
    DateTime,
    SmallDateTime,
    DateTime2,
    UniqueIdentifier,
    Char,
    VarChar,
    NChar,
    NVarChar,
    Binary,
    VarBinary,
};

struct ColumnType {
    static constexpr int kMax = -1;

    SqlType type = SqlType::NVarChar;
    int length = kMax; // characters for the char types, bytes for the binary ones
    int precision = 0; // decimal and numeric
    int scale = 0;     // decimal, numeric, time and datetime2

    friend bool operator==(const ColumnType&, const ColumnType&) = default;
};

// The SQL Server type a declared column type names (case and blanks do not matter, synonyms
// such as "integer" or "national character varying" are known), or nullopt when it names none.
// Fixed-length types without a length get one character or byte, as in SQL Server; varying ones
// without a length get (max), because a SQLite schema often leaves the length out.
std::optional<ColumnType> parseDeclaredType(std::string_view declared);
// parseDeclaredType, with nvarchar(max) for a column that declares no SQL Server type.
ColumnType columnTypeFor(const char* declared);
// The name as SQL Server writes it in messages: "int", "decimal", "nvarchar".
std::string_view typeName(SqlType type);

// Appends the TYPE_INFO of COLMETADATA.
void appendTypeInfo(std::string& out, const ColumnType& type);

// A SQLite value, borrowed from a statement.
struct Value {
    enum class Kind { Null, Integer, Real, Text, Blob };
    Kind kind = Kind::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view bytes; // UTF-8 text or blob bytes
};

// A value that the column's type cannot hold; carries the SQL Server error number and message.
class ValueError : public std::runtime_error {
public:
    ValueError(int number, const std::string& message)
        : std::runtime_error(message), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

// Appends the value as it stands in a ROW token; throws ValueError when it does not fit. A (max)
// value longer than `textSize` bytes is cut to that many, as the session's SET TEXTSIZE cuts it
// (a national one to a whole number of UTF-16 units).
void appendValue(std::string& out, const ColumnType& type, const Value& value,
                 std::int64_t textSize = INT64_MAX);

} // namespace tdsserver
