#pragma once

// What the pieces of the column code share, private to the server's sources: the writers of
// little-endian integers, the conversions of SQLite values that more than one type uses
// (columns_numbers.cpp), and the encoders the row value dispatcher calls.

#include "columns.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tdsserver::detail {

inline void putU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

inline void putLE(std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline bool isMax(const ColumnType& t) {
    return t.length == ColumnType::kMax;
}

// ---- types (columns_types.cpp) ---------------------------------------------------------------

// The type a column goes out as to a client of this TDS version (see appendTypeInfo).
ColumnType wireType(const ColumnType& t, std::uint32_t tdsVersion);
// The type byte of a sql_variant value of this base type; 0 for a type a variant cannot hold.
std::uint8_t variantBaseType(SqlType type);

// ---- conversions of SQLite values (columns_numbers.cpp) ---------------------------------------

// The value as text: integers in decimal, reals to 15 significant digits, text and blobs as
// they are.
std::string valueText(const Value& v);
// Error 245, naming the value and the target type.
[[noreturn]] void conversionFailed(const Value& v, SqlType target);
// Error 8115: the value is beyond the target type.
[[noreturn]] void overflow(SqlType target);
// s without the spaces and tabs at either end.
std::string_view trimmed(std::string_view s);
std::int64_t toInteger(const Value& v, SqlType target);
// Bytes of a decimal or numeric value's magnitude at this precision.
int decimalBytes(int precision);
void appendDecimal(std::string& out, const ColumnType& t, const Value& v);
void appendMoney(std::string& out, const ColumnType& t, const Value& v);
double toDouble(const Value& v, SqlType target);

// ---- dates and times (columns_dates.cpp) ------------------------------------------------------

// date, time, datetime, smalldatetime, datetime2 and datetimeoffset. A datetimeoffset is read
// from "YYYY-MM-DD hh:mm:ss[.f] [+|-]hh:mm" (no offset: +00:00) and goes out in UTC with its
// offset, as SQL Server sends it.
void appendDateTimeValue(std::string& out, const ColumnType& t, const Value& v);
// A date, time, datetime2 or datetimeoffset value as SQL Server sends it to a client older than
// TDS 7.3, which knows none of these types: "2024-02-29 13:45:07.1230000 +01:00", with as many
// fraction digits as the type's scale.
std::string dateTimeText(const ColumnType& t, const Value& v);
// The characters of that text form for a type: nvarchar(10) for date, nvarchar(16) for time(7)...
int dateTimeTextLength(const ColumnType& t);

} // namespace tdsserver::detail
