#include "db/Error.h"

#include <QStringList>
#include <utility>

namespace db {

namespace {

// Drivers have been seen to count the terminating NUL into the text's length, or to pass NULs
// on from the server's message; either would cut the message short wherever it is printed.
QString withoutNuls(QString text) {
    text.remove(QChar(u'\0'));
    return text;
}

// The driver manager's words when the driver named in the connection string cannot be loaded:
// no driver of that name is registered (it then tries the name as a library's file), or the
// registered library is missing. The user needs to know what to install, not the file that was
// tried.
bool driverIsMissing(const std::vector<DiagnosticRecord>& records) {
    for (const DiagnosticRecord& record : records) {
        if (withoutNuls(record.sqlState) == QLatin1String("IM002") ||
            record.text.contains(QLatin1String("Can't open lib")) ||
            record.text.contains(QLatin1String("Data source name not found"),
                                 Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

QString describe(const QString& operation, const std::vector<DiagnosticRecord>& records) {
    if (records.empty()) {
        return QStringLiteral("%1 failed (the driver gave no diagnostic)").arg(operation);
    }
    QStringList parts;
    if (driverIsMissing(records)) {
        parts << QString::fromUtf16(kDriverMissing);
    }
    for (const DiagnosticRecord& record : records) {
        parts << QStringLiteral("%1 (SQLSTATE %2, native error %3)")
                     .arg(withoutNuls(record.text), withoutNuls(record.sqlState))
                     .arg(record.nativeError);
    }
    return QStringLiteral("%1 failed: %2").arg(operation, parts.join(QLatin1String("; ")));
}

} // namespace

Error::Error(const QString& message) : std::runtime_error(message.toStdString()) {}

OdbcError::OdbcError(const QString& operation, std::vector<DiagnosticRecord> records)
    : Error(describe(operation, records)), records_(std::move(records)) {
    for (DiagnosticRecord& record : records_) {
        record.sqlState = withoutNuls(record.sqlState);
        record.text = withoutNuls(record.text);
    }
}

QString OdbcError::sqlState() const {
    return records_.empty() ? QString() : records_.front().sqlState;
}

int OdbcError::nativeError() const {
    return records_.empty() ? 0 : records_.front().nativeError;
}

} // namespace db
