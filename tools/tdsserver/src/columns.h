#pragma once

// Result columns: which SQL Server type a column's declared type stands for, how that type is
// described in COLMETADATA, and how a SQLite value of the column is encoded in a row.

#include "tokens.h"

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
    DateTimeOffset,
    Text,
    NText,
    Image,
    Xml,
    Variant,
};

struct ColumnType {
    static constexpr int kMax = -1;

    SqlType type = SqlType::NVarChar;
    int length = kMax; // characters for the char types, bytes for the binary ones
    int precision = 0; // decimal and numeric
    int scale = 0;     // decimal, numeric, time, datetime2 and datetimeoffset

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

// What a result column is sent with besides its type: text, ntext and image name their table.
struct ColumnOrigin {
    std::string schema;
    std::string table;
};

// Appends the TYPE_INFO of COLMETADATA as a client of this TDS version reads it: below 7.3 the
// date and time types go as nvarchar, below 7.2 the (max) types and xml as text, ntext and image.
void appendTypeInfo(std::string& out, const ColumnType& type, std::uint32_t tdsVersion = kTds74,
                    const ColumnOrigin& origin = {});

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

// How a session sends values: its text size (SET TEXTSIZE) and TDS version, and the row and
// column a value comes from, which make its text pointer.
struct ValueContext {
    std::int64_t textSize = INT64_MAX;
    std::uint32_t tdsVersion = kTds74;
    std::uint64_t row = 0;
    int column = 0;
};

// Appends the value as it stands in a ROW token; throws ValueError when it does not fit. A text,
// ntext, image or (max) value longer than the text size in bytes is cut to that many, as the
// session's SET TEXTSIZE cuts it (a national one to a whole number of UTF-16 units).
//
// A sql_variant value takes its base type from SQLite's storage class: an integer is an int (a
// bigint beyond it), a real a float, text an nvarchar, a blob a varbinary. Text of the form
// CAST(<literal> AS <type>) is a value of that type, as SQL Server would make it: for example
// CAST('12.50' AS decimal(10,2)), CAST('2024-02-29 13:45:07' AS datetime), CAST(1 AS bit),
// CAST(0x00FF AS varbinary(8)) or CAST('abc' AS varchar(10)).
void appendValue(std::string& out, const ColumnType& type, const Value& value,
                 const ValueContext& context = {});

// What SQL_VARIANT_PROPERTY(value, 'BaseType') gives for a sql_variant value as appendValue sends
// it: its base type's name ("int", "float", "varbinary"), or nullopt for NULL. Throws ValueError
// for a value no variant holds, as appendValue does.
std::optional<std::string> variantBaseTypeName(const Value& value);

} // namespace tdsserver
