#include "ExtractTableText.h"

#include "DelimitedText.h"
#include "ValueText.h"
#include "db/ConnectionString.h"
#include "db/Error.h"
#include "db/Login.h"
#include "db/ResultSet.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>
#include <vector>

namespace CSVXML {

namespace {

QString bracketed(const QString& name) {
    QString out = name;
    out.replace(QLatin1Char(']'), QLatin1String("]]"));
    return QLatin1Char('[') + out + QLatin1Char(']');
}

// How each column's value becomes text, decided once from the column's type.
enum class Form {
    Text,
    Integer,
    Bit,
    Decimal,
    Double,
    Float,
    DateTime,
    Date,
    Guid,
    Base64,
    // The driver's text; a date and time in it takes the xs:dateTime form with fractionDigits
    // digits, or with those the driver gives when fractionDigits is -1.
    DriverText,
    // A sql_variant: each value takes the form of its base type, read from typeColumn.
    Variant,
};

struct ColumnForm {
    Form form = Form::Text;
    int fractionDigits = 0;
    bool roundFraction = false;
    int typeColumn = -1; // Variant: the result column that holds the value's base type
};

// The form of a sql_variant value whose base type SQL_VARIANT_PROPERTY names: that of a column
// of the base type. Dates and times keep the driver's text, which carries the digits of the
// value's own scale; an unknown type (or NULL) does too.
ColumnForm variantFormOf(QStringView baseType) {
    static constexpr struct {
        const char* name;
        Form form;
    } kForms[] = {
        {"tinyint", Form::Integer}, {"smallint", Form::Integer}, {"int", Form::Integer},
        {"bigint", Form::Integer},  {"bit", Form::Bit},          {"decimal", Form::Decimal},
        {"numeric", Form::Decimal}, {"money", Form::Decimal},    {"smallmoney", Form::Decimal},
        {"float", Form::Double},    {"real", Form::Float},       {"uniqueidentifier", Form::Guid},
        {"binary", Form::Base64},   {"varbinary", Form::Base64}, {"char", Form::Text},
        {"varchar", Form::Text},    {"nchar", Form::Text},       {"nvarchar", Form::Text},
    };
    for (const auto& known : kForms) {
        if (baseType.compare(QLatin1String(known.name), Qt::CaseInsensitive) == 0) {
            return {known.form};
        }
    }
    return {Form::DriverText, -1};
}

ColumnForm formOf(const db::Column& column) {
    const QString& type = column.typeName;
    switch (column.kind) {
    case db::ValueKind::Integer:
        return {Form::Integer};
    case db::ValueKind::Bit:
        return {Form::Bit};
    case db::ValueKind::Decimal:
        return {Form::Decimal};
    case db::ValueKind::Real:
        // real is float(24): its shortest text is that of a float, not of the double it widens to
        if (type.compare(QLatin1String("real"), Qt::CaseInsensitive) == 0 ||
            (column.size > 0 && column.size <= 24)) {
            return {Form::Float};
        }
        return {Form::Double};
    case db::ValueKind::Timestamp: {
        // The digits the type carries: 0 for smalldatetime, 3 for datetime, n for datetime2(n).
        // datetime counts in 1/300 s, so its three digits are rounded, not cut.
        const int digits = std::clamp(column.decimalDigits, 0, 9);
        const bool classic =
            digits == 3 && type.compare(QLatin1String("datetime"), Qt::CaseInsensitive) == 0;
        return {Form::DateTime, digits, classic};
    }
    case db::ValueKind::Date:
        return {Form::Date};
    case db::ValueKind::Guid:
        return {Form::Guid};
    case db::ValueKind::Binary:
        return {Form::Base64};
    case db::ValueKind::DateTimeOffset:
        return {Form::DriverText, std::clamp(column.decimalDigits, 0, 7)};
    case db::ValueKind::Variant:
        return {Form::Variant};
    case db::ValueKind::Text:
    case db::ValueKind::Time:
    case db::ValueKind::Other:
        break;
    }
    return {Form::Text};
}

class Extractor {
public:
    // `variants` names the sql_variant columns whose base types the first variants.size()
    // columns of `rows` hold (see tableQuery); the table's own columns follow them.
    Extractor(db::ResultSet& rows, const QStringList& variants)
        : rows_(rows), first_(int(variants.size())) {
        if (rows.columnCount() < first_) {
            throw db::Error(QStringLiteral("The server sent fewer columns than were asked for."));
        }
        forms_.reserve(std::size_t(rows.columnCount() - first_));
        for (int i = first_; i < rows.columnCount(); ++i) {
            const db::Column& column = rows.column(i);
            ColumnForm form = formOf(column);
            if (form.form == Form::Variant) {
                form.typeColumn = int(variants.indexOf(column.name));
                if (form.typeColumn < 0) {
                    // The table changed between the query that found its variant columns and
                    // this one: without the base type the value's form is not known.
                    throw db::Error(QStringLiteral("The columns of the table changed while it "
                                                   "was being read; please try again."));
                }
            }
            forms_.push_back(form);
        }
        baseTypes_.resize(std::size_t(first_));
    }

    std::string header() const {
        std::string line;
        for (int i = first_; i < rows_.columnCount(); ++i) {
            if (i > first_) {
                line += ',';
            }
            const std::size_t start = line.size();
            line += rows_.column(i).name.toStdString();
            quoteFieldFrom(line, start);
        }
        return line;
    }

    // The current row's line, in `line` (emptied first), and which of its values are NULL.
    void readRow(std::int64_t row, std::string& line, std::vector<bool>& nulls) {
        line.clear();
        // The base types come first in the row, so every column is read in ascending order.
        for (int t = 0; t < first_; ++t) {
            QString& type = baseTypes_[std::size_t(t)];
            type.clear();
            rows_.appendText(t, type);
        }
        nulls.resize(forms_.size()); // every position is set below
        for (int i = 0; i < int(forms_.size()); ++i) {
            if (i > 0) {
                line += ',';
            }
            nulls[std::size_t(i)] = !appendValue(forms_[std::size_t(i)], first_ + i, line);
            if (result_.firstRow == 0 && result_.loneSurrogates > 0) {
                result_.firstRow = row;
                result_.firstColumn = rows_.column(first_ + i).name.toStdString();
            }
        }
    }

    ExtractResult result() const { return result_; }

private:
    // Appends the text of column i in UTF-8; false when it is NULL.
    bool appendUtf8(int i, std::string& out) {
        const std::optional<std::u16string_view> text = rows_.wideText(i);
        if (!text) {
            return false;
        }
        result_.loneSurrogates += ValueText::appendUtf8(out, *text);
        return true;
    }

    // Appends the value of result column i in form f; false when it is NULL (and nothing was
    // appended).
    bool appendValue(const ColumnForm& f, int i, std::string& line) {
        switch (f.form) {
        case Form::Text: {
            const std::size_t start = line.size();
            if (!appendUtf8(i, line)) {
                return false;
            }
            quoteFieldFrom(line, start);
            return true;
        }
        case Form::Integer:
            if (const auto v = rows_.int64(i)) {
                ValueText::appendInteger(line, *v);
            } else {
                return false;
            }
            return true;
        case Form::Bit:
            if (const auto v = rows_.int64(i)) {
                line += *v != 0 ? '1' : '0';
            } else {
                return false;
            }
            return true;
        case Form::Variant: {
            return appendValue(variantFormOf(baseTypes_[std::size_t(f.typeColumn)]), i, line);
        }
        case Form::DriverText: {
            scratch_.clear();
            if (!appendUtf8(i, scratch_)) {
                return false;
            }
            const std::size_t start = line.size();
            if (!ValueText::appendDriverDateTime(line, scratch_, f.fractionDigits)) {
                line += scratch_;
                quoteFieldFrom(line, start);
            }
            return true;
        }
        case Form::Decimal:
            scratch_.clear();
            if (!appendUtf8(i, scratch_)) {
                return false;
            }
            ValueText::appendDecimal(line, scratch_);
            return true;
        case Form::Double:
            if (const auto v = rows_.real(i)) {
                ValueText::appendDouble(line, *v);
            } else {
                return false;
            }
            return true;
        case Form::Float:
            if (const auto v = rows_.real(i)) {
                ValueText::appendFloat(line, float(*v));
            } else {
                return false;
            }
            return true;
        case Form::DateTime:
            if (const auto v = rows_.timestamp(i)) {
                ValueText::appendDateTime(line, v->year, v->month, v->day, v->hour, v->minute,
                                          v->second, v->fraction, f.fractionDigits,
                                          f.roundFraction);
            } else {
                return false;
            }
            return true;
        case Form::Date:
            if (const auto v = rows_.date(i)) {
                ValueText::appendDate(line, v->year(), v->month(), v->day());
            } else {
                return false;
            }
            return true;
        case Form::Guid:
            bytes_.clear();
            if (!rows_.appendBytes(i, bytes_)) {
                return false;
            }
            if (bytes_.size() != 16) {
                throw db::Error(QStringLiteral("The server sent a uniqueidentifier of %1 bytes.")
                                    .arg(bytes_.size()));
            }
            {
                unsigned char raw[16];
                std::memcpy(raw, bytes_.constData(), 16);
                ValueText::appendGuid(line, raw);
            }
            return true;
        case Form::Base64:
            bytes_.clear();
            if (!rows_.appendBytes(i, bytes_)) {
                return false;
            }
            ValueText::appendBase64(
                line, std::string_view(bytes_.constData(), std::size_t(bytes_.size())));
            return true;
        }
        return false; // not reached: every form is handled above
    }

    db::ResultSet& rows_;
    int first_ = 0; // result columns of base types before the table's own
    std::vector<ColumnForm> forms_;
    std::vector<QString> baseTypes_; // the current row's, one per variant column
    std::string scratch_;
    QByteArray bytes_;
    ExtractResult result_;
};

} // namespace

QString tableQuery(const db::TableEntry& table, const QStringList& variants) {
    QString query = QStringLiteral("SELECT ");
    for (const QString& column : variants) {
        query += QStringLiteral("SQL_VARIANT_PROPERTY(") + bracketed(column) +
                 QStringLiteral(", 'BaseType'), ");
    }
    query += QStringLiteral("* FROM ");
    if (!table.schema.isEmpty()) {
        query += bracketed(table.schema) + QLatin1Char('.');
    }
    return query + bracketed(table.name) + QLatin1Char(';');
}

QString loneSurrogatesMessage(const ExtractResult& result) {
    if (result.loneSurrogates == 0) {
        return {};
    }
    return QStringLiteral("%1 lone UTF-16 surrogates (halves of a character without their other "
                          "half) were written as U+FFFD; the first is at row %2, column '%3'")
        .arg(result.loneSurrogates)
        .arg(result.firstRow)
        .arg(QString::fromStdString(result.firstColumn));
}

ExtractResult ExtractTableText(const db::ConnectionSettings& settings, const db::TableEntry& table,
                               ExtractSink& sink, db::Progress& progress,
                               std::chrono::seconds loginTimeout,
                               std::chrono::seconds queryTimeout) {
    db::Connection connection =
        db::logIn(settings, db::ConnectionStringForm::UpperCase, loginTimeout, queryTimeout);
    db::ResultSet rows = connection.query(tableQuery(table), db::ReadMode::Blocks);
    // The driver tells a sql_variant value only as the conversion to what it is asked for, not
    // its base type; the server tells that, in a query of its own for a table with variants.
    QStringList variants;
    for (const db::Column& column : rows.columns()) {
        if (column.kind == db::ValueKind::Variant) {
            variants.push_back(column.name);
        }
    }
    if (!variants.isEmpty()) {
        rows.close(); // one statement at a time on the connection
        rows = connection.query(tableQuery(table, variants), db::ReadMode::Blocks);
    }
    Extractor extractor(rows, variants);
    sink.header(extractor.header());
    std::string line;
    std::vector<bool> nulls;
    progress.start(0);
    for (std::int64_t done = 1;; ++done) {
        progress.serve();
        if (!rows.next()) {
            break;
        }
        extractor.readRow(done, line, nulls);
        sink.rowWithNulls(line, nulls);
        progress.step(done);
    }
    progress.end();
    return extractor.result();
}

void JoinedTextSink::header(std::string_view line) {
    write(line);
}

void JoinedTextSink::row(std::string_view line) {
    write(kLineBreak);
    write(line);
}

std::string ExtractTableText(const db::ConnectionSettings& settings, const db::TableEntry& table,
                             std::chrono::seconds loginTimeout) {
    JoinedString joined;
    ExtractTableText(settings, table, joined, db::noProgress(), loginTimeout);
    return std::move(joined.text);
}

} // namespace CSVXML
