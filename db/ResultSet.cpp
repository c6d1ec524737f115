#include "db/ResultSet.h"

#include "db/OdbcCall.h"
#include "db/OdbcHandles.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace db {

namespace {

using detail::check;

[[noreturn]] void throwAlreadyRead(int index) {
    throw Error(QStringLiteral("column %1 of this row was already read").arg(index + 1));
}

// Long types report a size of 0 or of up to 2^31; reading them starts with this many characters
// and grows. Everything shorter is read in one call.
constexpr int kLongChunk = 4096;

// Characters that the text of a value of `column` can take, with room for a sign, a decimal
// point, an exponent or hex digits (binary as text takes two characters a byte).
int firstTextChunk(const Column& column) {
    if (column.size == 0 || column.size > std::uint64_t(kLongChunk) / 2) {
        return kLongChunk;
    }
    return std::max(int(column.size) * 2 + 8, 40);
}

static_assert(sizeof(long) == sizeof(SQLLEN) && sizeof(unsigned long) == sizeof(SQLULEN) &&
              sizeof(unsigned short) == sizeof(SQLUSMALLINT));

// Widest value bound into the row array; anything wider is long and read in pieces.
constexpr std::uint64_t kBindLimit = 8000;
// The row array is kept near this size so that it stays in the processor's caches.
constexpr std::size_t kBlockBytes = std::size_t(256) << 10;
constexpr unsigned long kMaxBlockRows = 256;

// How column `column` is bound, or a width of 0 when it is long.
std::pair<SQLSMALLINT, long> bindingOf(const Column& column) {
    const auto text = [](std::uint64_t characters) {
        return long(characters + 1) * long(sizeof(SQLWCHAR));
    };
    switch (column.kind) {
    case ValueKind::Integer:
    case ValueKind::Bit:
        return {SQL_C_SBIGINT, long(sizeof(SQLBIGINT))};
    case ValueKind::Real:
        return {SQL_C_DOUBLE, long(sizeof(SQLDOUBLE))};
    case ValueKind::Timestamp:
        return {SQL_C_TYPE_TIMESTAMP, long(sizeof(SQL_TIMESTAMP_STRUCT))};
    case ValueKind::Date:
        // Read as a timestamp: see ResultSet::date.
        return {SQL_C_TYPE_TIMESTAMP, long(sizeof(SQL_TIMESTAMP_STRUCT))};
    case ValueKind::Guid:
        return {SQL_C_BINARY, 16};
    case ValueKind::Binary:
        if (column.size == 0 || column.size > kBindLimit) {
            return {SQL_C_BINARY, 0};
        }
        return {SQL_C_BINARY, long(column.size)};
    case ValueKind::Text:
        // A character of the column never takes more than one UTF-16 unit per declared unit.
        if (column.size == 0 || column.size > kBindLimit) {
            return {SQL_C_WCHAR, 0};
        }
        return {SQL_C_WCHAR, text(column.size)};
    case ValueKind::Variant:
        // Each value is read in the C type of its own base type, which a binding cannot follow.
        return {SQL_C_WCHAR, 0};
    case ValueKind::Decimal:
    case ValueKind::Time:
    case ValueKind::DateTimeOffset:
    case ValueKind::Other:
        // The driver's text for these is a little longer than their declared size.
        if (column.size == 0 || column.size > kBindLimit / 4) {
            return {SQL_C_WCHAR, 0};
        }
        return {SQL_C_WCHAR, text(std::uint64_t(firstTextChunk(column)))};
    }
    return {SQL_C_WCHAR, 0};
}

} // namespace

ResultSet::ResultSet(std::shared_ptr<detail::ConnectionHandles> connection,
                     std::unique_ptr<detail::Handle> statement, ReadMode mode)
    : connection_(std::move(connection)), statement_(std::move(statement)) {
    describeColumns();
    if (mode == ReadMode::Blocks && !exhausted_) {
        bindBlocks();
    }
}

void ResultSet::bindBlocks() {
    std::vector<Binding> bindings(columns_.size());
    std::size_t rowBytes = 0;
    bool anyLong = false;
    // Beside bound columns, SQLGetData reads only the columns after the last bound one unless the
    // driver says it can read any (FreeTDS does not say so): then, from the first long column on,
    // nothing is bound.
    const bool anyColumn = (connection_->getDataExtensions & SQL_GD_ANY_COLUMN) != 0;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const auto [cType, width] = bindingOf(columns_[i]);
        if (width == 0 || (anyLong && !anyColumn)) {
            anyLong = true; // read with SQLGetData, which needs one row per fetch
            bindings[i] = {cType, 0, 0};
            continue;
        }
        // Each column's slot stays aligned for the structs and integers read out of it.
        bindings[i] = {cType, (width + 7) / 8 * 8, 0};
        rowBytes += std::size_t(bindings[i].width);
    }
    if (rowBytes == 0) {
        return; // nothing to bind: every value comes from SQLGetData
    }
    // The driver refuses SQLGetData on a block cursor, so with a long column the rows still come
    // one at a time; the other columns are bound all the same, which spares a driver call for
    // each of their values.
    const unsigned long rows =
        anyLong ? 1
                : std::clamp<unsigned long>(kBlockBytes / std::max<std::size_t>(rowBytes, 1), 1,
                                            kMaxBlockRows);
    std::size_t offset = 0;
    for (Binding& b : bindings) {
        b.offset = offset;
        offset += std::size_t(b.width) * rows;
    }
    block_.assign(offset, 0);
    indicators_.assign(columns_.size() * rows, 0);
    rowStatus_.assign(rows, 0);
    read_.assign(columns_.size(), 0);
    SQLHSTMT stmt = statement_->get();
    check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0),
          SQL_HANDLE_STMT, stmt, "setting the rows per fetch");
    check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, rowStatus_.data(), 0), SQL_HANDLE_STMT,
          stmt, "setting the row status array");
    check(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, fetched_.get(), 0), SQL_HANDLE_STMT, stmt,
          "setting the fetched row count");
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        if (bindings[i].width == 0) {
            continue;
        }
        check(SQLBindCol(stmt, SQLUSMALLINT(i + 1), bindings[i].cType,
                         block_.data() + bindings[i].offset, bindings[i].width,
                         &indicators_[i * rows]),
              SQL_HANDLE_STMT, stmt, "binding a column");
    }
    bindings_ = std::move(bindings);
    blockRows_ = rows;
    someUnbound_ = anyLong;
}

ResultSet::~ResultSet() {
    close();
}

ResultSet::ResultSet(ResultSet&&) noexcept = default;

ResultSet& ResultSet::operator=(ResultSet&& other) noexcept {
    if (this != &other) {
        close();
        connection_ = std::move(other.connection_);
        statement_ = std::move(other.statement_);
        columns_ = std::move(other.columns_);
        textChunk_ = std::move(other.textChunk_);
        scratch_ = std::move(other.scratch_);
        exhausted_ = other.exhausted_;
        // The driver holds the addresses of these buffers; moving keeps them.
        bindings_ = std::move(other.bindings_);
        block_ = std::move(other.block_);
        indicators_ = std::move(other.indicators_);
        rowStatus_ = std::move(other.rowStatus_);
        read_ = std::move(other.read_);
        blockRows_ = other.blockRows_;
        someUnbound_ = other.someUnbound_;
        fetched_ = std::move(other.fetched_);
        current_ = other.current_;
    }
    return *this;
}

void ResultSet::close() noexcept {
    statement_.reset();
    connection_.reset();
    exhausted_ = true;
}

void ResultSet::describeColumns() {
    SQLHSTMT stmt = statement_->get();
    SQLSMALLINT count = 0;
    check(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt, "counting the columns");
    // A batch may report row counts before its first result set: skip to the first with columns.
    while (count == 0) {
        if (check(SQLMoreResults(stmt), SQL_HANDLE_STMT, stmt, "reading the next result") ==
            SQL_NO_DATA) {
            exhausted_ = true;
            return;
        }
        check(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt, "counting the columns");
    }
    columns_.resize(std::size_t(count));
    textChunk_.resize(std::size_t(count));
    std::vector<SQLWCHAR> name(256);
    for (SQLUSMALLINT i = 0; i < SQLUSMALLINT(count); ++i) {
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT type = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
        for (;;) {
            check(SQLDescribeColW(stmt, SQLUSMALLINT(i + 1), name.data(), SQLSMALLINT(name.size()),
                                  &nameLength, &type, &size, &digits, &nullable),
                  SQL_HANDLE_STMT, stmt, "describing a column");
            if (nameLength < SQLSMALLINT(name.size())) {
                break;
            }
            name.resize(std::size_t(nameLength) + 1);
        }
        Column& column = columns_[i];
        column.name = QString::fromUtf16(reinterpret_cast<const char16_t*>(name.data()),
                                         std::max<SQLSMALLINT>(nameLength, 0));
        column.sqlType = type;
        column.kind = valueKindOf(type);
        column.size = size;
        column.decimalDigits = digits;
        column.nullable = nullable != SQL_NO_NULLS;

        std::array<SQLWCHAR, 128> typeName{};
        SQLSMALLINT typeNameBytes = 0;
        check(SQLColAttributeW(stmt, SQLUSMALLINT(i + 1), SQL_DESC_TYPE_NAME, typeName.data(),
                               SQLSMALLINT(sizeof typeName - sizeof(SQLWCHAR)), &typeNameBytes,
                               nullptr),
              SQL_HANDLE_STMT, stmt, "reading a column's type name");
        const auto typeNameLength = std::clamp<qsizetype>(
            typeNameBytes / qsizetype(sizeof(SQLWCHAR)), 0, qsizetype(typeName.size()) - 1);
        column.typeName =
            QString::fromUtf16(reinterpret_cast<const char16_t*>(typeName.data()), typeNameLength);
        textChunk_[i] = firstTextChunk(column);
    }
}

const Column& ResultSet::column(int index) const {
    checkIndex(index);
    return columns_[std::size_t(index)];
}

int ResultSet::columnIndex(const QString& name) const {
    const auto found = std::find_if(columns_.begin(), columns_.end(),
                                    [&](const Column& column) { return column.name == name; });
    return found == columns_.end() ? -1 : int(found - columns_.begin());
}

namespace {
[[noreturn]] void throwAlreadyRead(int index);
} // namespace

void ResultSet::checkIndex(int index) const {
    if (index < 0 || index >= columnCount()) {
        throw std::out_of_range("column index out of range");
    }
}

bool ResultSet::next() {
    if (exhausted_ || !statement_) {
        return false;
    }
    SQLHSTMT stmt = statement_->get();
    if (blockRows_ > 0) {
        std::fill(read_.begin(), read_.end(), 0);
        if (current_ + 1 < *fetched_) {
            ++current_;
        } else {
            *fetched_ = 0;
            if (detail::checkWait(SQLFetch(stmt), stmt, connection_->queryTimeoutSeconds,
                                  "fetching rows") == SQL_NO_DATA ||
                *fetched_ == 0) {
                exhausted_ = true;
                return false;
            }
            current_ = 0;
        }
        if (rowStatus_[current_] == SQL_ROW_ERROR) {
            throw Error(
                QStringLiteral("The driver could not read row %1 of a block.").arg(current_ + 1));
        }
        return true;
    }
    if (detail::checkWait(SQLFetch(stmt), stmt, connection_->queryTimeoutSeconds,
                          "fetching a row") == SQL_NO_DATA) {
        exhausted_ = true;
        return false;
    }
    return true;
}

inline bool ResultSet::fromBinding(int index, short cType) {
    checkIndex(index);
    if (blockRows_ == 0) {
        return false;
    }
    const auto i = std::size_t(index);
    const Binding& b = bindings_[i];
    if (b.width == 0) {
        return false; // a long column
    }
    if (!someUnbound_ || b.cType == cType) {
        return true; // boundValue checks the getter and the reads
    }
    // One row per fetch: the driver gives a bound column again in another type, once per row.
    if (read_[i] != 0) {
        throwAlreadyRead(index);
    }
    read_[i] = 1;
    return false;
}

// Called only once fromBinding has said yes, which checked the index. Returns nullptr for NULL
// and, with *length set to -1, for a value that the binding could not hold whole, which the
// getter then reads again from the driver.
const char* ResultSet::boundValue(int index, short cType, long* length) {
    const auto i = std::size_t(index);
    const Binding& b = bindings_[i];
    if (b.cType != cType) {
        throw Error(
            QStringLiteral("column %1 is read in blocks by the getter of its kind").arg(index + 1));
    }
    if (read_[i] != 0) {
        throwAlreadyRead(index);
    }
    read_[i] = 1;
    const long indicator = indicators_[i * blockRows_ + current_];
    if (indicator == SQL_NULL_DATA) {
        return nullptr;
    }
    // The binding is wide enough for any value of the declared size; a longer one would be cut.
    const long room = cType == SQL_C_WCHAR ? b.width - long(sizeof(SQLWCHAR)) : b.width;
    if (indicator == SQL_NO_TOTAL || indicator > room) {
        // SQL_NO_TOTAL: the driver does not know the length, so the value may go on past the
        // binding. A row fetched alone can be read again in pieces; in a block of rows the
        // others would be lost.
        if (blockRows_ == 1) {
            *length = -1;
            return nullptr;
        }
        throw Error(indicator == SQL_NO_TOTAL
                        ? QStringLiteral("The driver did not tell the length of a value of "
                                         "column %1.")
                              .arg(index + 1)
                        : QStringLiteral("column %1 holds a value longer than its declared size")
                              .arg(index + 1));
    }
    *length = indicator;
    return block_.data() + b.offset + std::size_t(b.width) * current_;
}

namespace {

// Appends the value of column `index` to `out` (a QString read as SQL_C_WCHAR, or a QByteArray
// read as SQL_C_BINARY), `chunk` units at first and then as much as the driver says is left.
// Returns false, leaving `out` as it was, for NULL.
template <typename Buffer>
bool appendInPieces(SQLHSTMT stmt, int index, SQLSMALLINT cType, qsizetype chunk, Buffer& out) {
    constexpr auto unit = SQLLEN(sizeof(*out.data()));
    // Character data always ends in a NUL the driver writes; binary data has none.
    const qsizetype terminator = cType == SQL_C_WCHAR ? 1 : 0;
    const qsizetype start = out.size();
    qsizetype end = start;
    for (bool first = true;; first = false) {
        out.resize(end + chunk + terminator);
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            check(SQLGetData(stmt, SQLUSMALLINT(index + 1), cType, out.data() + end,
                             SQLLEN(chunk + terminator) * unit, &indicator),
                  SQL_HANDLE_STMT, stmt, "reading a value");
        if (rc == SQL_NO_DATA) {
            out.resize(end);
            if (first) {
                throwAlreadyRead(index);
            }
            return true;
        }
        if (indicator == SQL_NULL_DATA) {
            out.resize(start);
            return false;
        }
        if (indicator != SQL_NO_TOTAL && indicator / unit <= SQLLEN(chunk)) {
            out.resize(end + qsizetype(indicator / unit));
            return true;
        }
        // The buffer was filled; the indicator says how much is left, when the driver knows.
        end += chunk;
        const qsizetype rest =
            indicator == SQL_NO_TOTAL ? chunk * 2 : qsizetype(indicator / unit) - chunk;
        chunk = std::max<qsizetype>(rest, 1);
    }
}

} // namespace

// Inline, so that each getter copies its own fixed size.
inline bool ResultSet::readFixed(int index, short cType, void* target, long targetSize) {
    if (fromBinding(index, cType)) {
        long length = 0;
        const char* value = boundValue(index, cType, &length);
        if (value == nullptr) {
            return length < 0 && readFixedFromDriver(index, cType, target, targetSize);
        }
        std::memcpy(target, value, std::size_t(std::min(length, targetSize)));
        return true;
    }
    return readFixedFromDriver(index, cType, target, targetSize);
}

bool ResultSet::readFixedFromDriver(int index, short cType, void* target, long targetSize) {
    checkIndex(index);
    SQLHSTMT stmt = statement_->get();
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        check(SQLGetData(stmt, SQLUSMALLINT(index + 1), cType, target, targetSize, &indicator),
              SQL_HANDLE_STMT, stmt, "reading a value");
    if (rc == SQL_NO_DATA) {
        throwAlreadyRead(index);
    }
    return indicator != SQL_NULL_DATA;
}

bool ResultSet::appendText(int index, QString& out) {
    if (fromBinding(index, SQL_C_WCHAR)) {
        long length = 0;
        const char* value = boundValue(index, SQL_C_WCHAR, &length);
        if (value == nullptr) {
            return length < 0 && appendTextFromDriver(index, out);
        }
        out.append(QStringView(reinterpret_cast<const char16_t*>(value),
                               qsizetype(length / long(sizeof(SQLWCHAR)))));
        return true;
    }
    return appendTextFromDriver(index, out);
}

bool ResultSet::appendTextFromDriver(int index, QString& out) {
    checkIndex(index);
    return appendInPieces(statement_->get(), index, SQL_C_WCHAR, textChunk_[std::size_t(index)],
                          out);
}

std::optional<std::u16string_view> ResultSet::wideText(int index) {
    if (fromBinding(index, SQL_C_WCHAR)) {
        long length = 0;
        const char* value = boundValue(index, SQL_C_WCHAR, &length);
        if (value != nullptr) {
            return std::u16string_view(reinterpret_cast<const char16_t*>(value),
                                       std::size_t(length) / sizeof(SQLWCHAR));
        }
        if (length >= 0) {
            return std::nullopt;
        }
    }
    scratch_.resize(0);
    if (!appendTextFromDriver(index, scratch_)) {
        return std::nullopt;
    }
    return std::u16string_view(reinterpret_cast<const char16_t*>(scratch_.utf16()),
                               std::size_t(scratch_.size()));
}

std::optional<QString> ResultSet::text(int index) {
    QString value;
    if (!appendText(index, value)) {
        return std::nullopt;
    }
    return value;
}

bool ResultSet::appendBytes(int index, QByteArray& out) {
    if (fromBinding(index, SQL_C_BINARY)) {
        long length = 0;
        const char* value = boundValue(index, SQL_C_BINARY, &length);
        if (value != nullptr) {
            out.append(value, qsizetype(length));
            return true;
        }
        if (length >= 0) {
            return false;
        }
    }
    checkIndex(index);
    const Column& col = columns_[std::size_t(index)];
    const qsizetype chunk = col.size == 0 || col.size > std::uint64_t(kLongChunk)
                                ? qsizetype(kLongChunk)
                                : std::max<qsizetype>(qsizetype(col.size), 1);
    return appendInPieces(statement_->get(), index, SQL_C_BINARY, chunk, out);
}

std::optional<QByteArray> ResultSet::bytes(int index) {
    QByteArray value;
    if (!appendBytes(index, value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> ResultSet::int64(int index) {
    SQLBIGINT value = 0;
    if (!readFixed(index, SQL_C_SBIGINT, &value, sizeof value)) {
        return std::nullopt;
    }
    return std::int64_t(value);
}

std::optional<double> ResultSet::real(int index) {
    SQLDOUBLE value = 0;
    if (!readFixed(index, SQL_C_DOUBLE, &value, sizeof value)) {
        return std::nullopt;
    }
    return double(value);
}

std::optional<Timestamp> ResultSet::timestamp(int index) {
    SQL_TIMESTAMP_STRUCT value{};
    if (!readFixed(index, SQL_C_TYPE_TIMESTAMP, &value, sizeof value)) {
        return std::nullopt;
    }
    return Timestamp{value.year,   value.month,  value.day,     value.hour,
                     value.minute, value.second, value.fraction};
}

std::optional<QDate> ResultSet::date(int index) {
    // As a date the driver gives 0000-00-00 for 0001-01-01; as a timestamp it does not.
    SQL_TIMESTAMP_STRUCT stamp{};
    if (!readFixed(index, SQL_C_TYPE_TIMESTAMP, &stamp, sizeof stamp)) {
        return std::nullopt;
    }
    return QDate(stamp.year, stamp.month, stamp.day);
}

} // namespace db
