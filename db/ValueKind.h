#pragma once

namespace db {

// What a column's values are, for whoever turns them into text. Decided from the ODBC SQL type
// the driver reports; Column::typeName and Column::decimalDigits tell the finer differences
// (datetime from datetime2, money from decimal).
enum class ValueKind {
    Text,           // char, varchar, nchar, nvarchar, text, ntext, xml
    Integer,        // tinyint, smallint, int, bigint
    Bit,            // bit
    Decimal,        // decimal, numeric, money, smallmoney
    Real,           // float, real
    Timestamp,      // datetime, datetime2, smalldatetime
    Date,           // date
    Time,           // time
    Guid,           // uniqueidentifier
    Binary,         // binary, varbinary, image, timestamp/rowversion
    DateTimeOffset, // datetimeoffset, read as the driver's text
    Variant,        // sql_variant; each value is read in the form of its own base type
    Other,          // whatever else; read these as text
};

ValueKind valueKindOf(int odbcSqlType);

} // namespace db
