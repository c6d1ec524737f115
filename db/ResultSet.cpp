#include "db/ResultSet.h"

#include "db/OdbcCall.h"
#include "db/OdbcHandles.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace db {

namespace {

using detail::check;

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

} // namespace

ResultSet::ResultSet(std::shared_ptr<detail::ConnectionHandles> connection,
                     std::unique_ptr<detail::Handle> statement)
    : connection_(std::move(connection)), statement_(std::move(statement)) {
    describeColumns();
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
    if (check(SQLFetch(stmt), SQL_HANDLE_STMT, stmt, "fetching a row") == SQL_NO_DATA) {
        exhausted_ = true;
        return false;
    }
    return true;
}

namespace {

[[noreturn]] void throwAlreadyRead(int index) {
    throw Error(QStringLiteral("column %1 of this row was already read").arg(index + 1));
}

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

bool ResultSet::readFixed(int index, short cType, void* target, long targetSize) {
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
    checkIndex(index);
    return appendInPieces(statement_->get(), index, SQL_C_WCHAR, textChunk_[std::size_t(index)],
                          out);
}

namespace {

void appendAsUtf8(QStringView text, std::string& out) {
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
    // At most three bytes for each UTF-16 unit (a surrogate pair gives four for two units).
    const std::size_t start = out.size();
    out.resize(start + std::size_t(text.size()) * 3);
    char* o = out.data() + start;
    while (p != end) {
        char32_t c = *p++;
        if (c < 0x80) {
            *o++ = char(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c <= 0xDBFF && p != end && *p >= 0xDC00 && *p <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(*p++) - 0xDC00);
            } else {
                c = 0xFFFD;
            }
        }
        if (c < 0x800) {
            *o++ = char(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *o++ = char(0xE0 | (c >> 12));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
        } else {
            *o++ = char(0xF0 | (c >> 18));
            *o++ = char(0x80 | ((c >> 12) & 0x3F));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
        }
        *o++ = char(0x80 | (c & 0x3F));
    }
    out.resize(std::size_t(o - out.data()));
}

} // namespace

bool ResultSet::appendUtf8(int index, std::string& out) {
    scratch_.resize(0);
    if (!appendText(index, scratch_)) {
        return false;
    }
    appendAsUtf8(scratch_, out);
    return true;
}

std::optional<QString> ResultSet::text(int index) {
    QString value;
    if (!appendText(index, value)) {
        return std::nullopt;
    }
    return value;
}

bool ResultSet::appendBytes(int index, QByteArray& out) {
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
    SQL_DATE_STRUCT value{};
    if (!readFixed(index, SQL_C_TYPE_DATE, &value, sizeof value)) {
        return std::nullopt;
    }
    return QDate(value.year, value.month, value.day);
}

std::optional<QUuid> ResultSet::guid(int index) {
    SQLGUID value{};
    if (!readFixed(index, SQL_C_GUID, &value, sizeof value)) {
        return std::nullopt;
    }
    return QUuid(value.Data1, value.Data2, value.Data3, value.Data4[0], value.Data4[1],
                 value.Data4[2], value.Data4[3], value.Data4[4], value.Data4[5], value.Data4[6],
                 value.Data4[7]);
}

} // namespace db
