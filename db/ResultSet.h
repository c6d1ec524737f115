#pragma once

#include "db/ValueKind.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace db {

namespace detail {
class Handle;
struct ConnectionHandles;
} // namespace detail

struct Column {
    QString name;
    QString typeName; // the server's name for the type: "int", "datetime2", "money"...
    int sqlType = 0;  // the ODBC SQL type code
    ValueKind kind = ValueKind::Other;
    std::uint64_t size = 0; // characters, digits or bytes; 0 when the driver does not know
    int decimalDigits = 0;  // scale of exact numerics, digits of fractional seconds
    bool nullable = true;
};

// A date and time as the server holds it, without time zone.
struct Timestamp {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::uint32_t fraction = 0; // nanoseconds

    friend bool operator==(const Timestamp&, const Timestamp&) = default;
};

// How a ResultSet takes its rows from the driver.
enum class ReadMode {
    // One row per fetch; any getter works on any column.
    RowByRow,
    // Many rows per fetch into bound buffers, which spares a driver call per value. Each column
    // is then read with the getter of its kind: the text forms for Text, Decimal, Time and
    // Other; int64 for Integer and Bit; real for Real; timestamp; date; the byte forms
    // for Guid and Binary. Another getter throws Error. A result with a long column (max types,
    // text, ntext, image, xml, or one too wide to bind) or a sql_variant column, whose values
    // each take the getter of their own base type, is read row by row all the same: its
    // other columns are still bound (one row at a time): all of them when the driver's
    // SQLGetData can read any column (SQL_GD_ANY_COLUMN), else those before the first long or
    // sql_variant one.
    // There every getter works.
    Blocks,
};

// The rows of one query or catalogue call, walked forward once.
//
//     while (rows.next()) {
//         for (int c = 0; c < rows.columnCount(); ++c) { ... rows.appendText(c, line) ... }
//     }
//
// The value getters read column `index` (0-based) of the current row. Each column can be read
// once per row, in ascending order of columns (ODBC's rule for unbound columns); reading a
// column again throws Error. Every getter tells NULL apart: std::nullopt, or false for the
// append forms. A value the driver cannot convert to the asked type throws OdbcError.
//
// The walk allocates nothing per row itself: buffers are reused from row to row, and the
// append forms write straight into the caller's string.
class ResultSet {
public:
    ~ResultSet();
    ResultSet(ResultSet&&) noexcept;
    ResultSet& operator=(ResultSet&&) noexcept;

    int columnCount() const { return int(columns_.size()); }
    const std::vector<Column>& columns() const { return columns_; }
    const Column& column(int index) const;
    // The index of the first column named `name` (exact match), or -1.
    int columnIndex(const QString& name) const;

    // Steps to the next row; false once the rows are exhausted.
    bool next();

    // Any value as the driver's text for it (decimals with all digits of the column's scale).
    std::optional<QString> text(int index);
    // Appends the value's text to `out`; returns false, leaving `out` alone, when it is NULL.
    bool appendText(int index, QString& out);
    // The value's text in UTF-16, seen where it lies (the bound row, or a buffer of the set's
    // own), without a copy; valid until the next value is read. std::nullopt for NULL.
    std::optional<std::u16string_view> wideText(int index);

    std::optional<std::int64_t> int64(int index);
    std::optional<double> real(int index);
    std::optional<Timestamp> timestamp(int index);
    std::optional<QDate> date(int index);
    // The value's bytes; for a uniqueidentifier the 16 bytes in SQL Server's own layout (the
    // first three groups little-endian), as they travel on the wire.
    std::optional<QByteArray> bytes(int index);
    bool appendBytes(int index, QByteArray& out);

    // Lets the statement go now rather than when the ResultSet is destroyed.
    void close() noexcept;

private:
    friend class Connection;
    ResultSet(std::shared_ptr<detail::ConnectionHandles> connection,
              std::unique_ptr<detail::Handle> statement, ReadMode mode = ReadMode::RowByRow);

    // A column's slot in the bound row array.
    struct Binding {
        short cType = 0;
        long width = 0;         // bytes per row
        std::size_t offset = 0; // of the column's first row in block_
    };

    void describeColumns();
    void bindBlocks();
    // The current row's bound value of `index`, checked against the asked type; nullptr for NULL.
    // Whether a getter of `cType` reads column `index` from the binding (else from the driver).
    bool fromBinding(int index, short cType);
    const char* boundValue(int index, short cType, long* length);
    void checkIndex(int index) const;
    // Reads a fixed-size value; returns false for NULL.
    bool readFixed(int index, short cType, void* target, long targetSize);
    bool readFixedFromDriver(int index, short cType, void* target, long targetSize);
    bool appendTextFromDriver(int index, QString& out);

    // Declared first so that it is released last: the statement needs its connection.
    std::shared_ptr<detail::ConnectionHandles> connection_;
    std::unique_ptr<detail::Handle> statement_;
    std::vector<Column> columns_;
    std::vector<int> textChunk_; // characters to ask for in the first read of each column
    QString scratch_;            // reused by wideText
    bool exhausted_ = false;

    // Block reads: the row array (column after column), the indicators (column after column),
    // the row status, how many rows the last fetch gave and which of them is current.
    std::vector<Binding> bindings_;
    std::vector<char> block_;
    std::vector<long> indicators_;
    std::vector<unsigned short> rowStatus_;
    std::vector<unsigned char> read_; // columns of the current row already read
    unsigned long blockRows_ = 0;
    bool someUnbound_ = false; // long columns read with SQLGetData, so one row per fetch
    // On the heap: the driver keeps its address, which must survive a move of the ResultSet.
    std::unique_ptr<unsigned long> fetched_ = std::make_unique<unsigned long>(0);
    unsigned long current_ = 0;
};

} // namespace db
