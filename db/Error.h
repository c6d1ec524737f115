#pragma once

#include <QString>
#include <stdexcept>
#include <vector>

namespace db {

// Everything the database layer throws derives from this, so a caller that only needs to tell
// success from failure catches one type and shows message().
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message);

    QString message() const { return QString::fromUtf8(what()); }
};

// One diagnostic record of the driver (or of the driver manager), as SQLGetDiagRec gives it.
struct DiagnosticRecord {
    QString sqlState;
    int nativeError = 0;
    QString text;
};

// What a failure says first when the driver manager cannot load the driver the connection
// string names.
inline constexpr char16_t kDriverMissing[] =
    u"the ODBC driver \"SQL Server\" is not installed: install Debian's package tdsodbc, then "
    u"register it under that name with scripts/install-driver (installing Tallowby's own "
    u"package does both)";

// A failed ODBC call. Carries every diagnostic record the call left behind, in order; the first
// record's SQLSTATE and native error are the ones callers usually branch on.
class OdbcError : public Error {
public:
    // `operation` says what we were doing ("connect", "fetch"...), for the message.
    OdbcError(const QString& operation, std::vector<DiagnosticRecord> records);

    QString sqlState() const;
    int nativeError() const;
    const std::vector<DiagnosticRecord>& records() const { return records_; }

private:
    std::vector<DiagnosticRecord> records_;
};

} // namespace db
