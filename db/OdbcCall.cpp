#include "db/OdbcCall.h"

#include <algorithm>
#include <array>

namespace db::detail {

std::vector<DiagnosticRecord> diagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::vector<DiagnosticRecord> records;
    if (handle == SQL_NULL_HANDLE) {
        return records;
    }
    std::array<SQLWCHAR, 6> state{};
    std::vector<SQLWCHAR> text(512);
    for (SQLSMALLINT number = 1;; ++number) {
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, number, state.data(), &native,
                                      text.data(), SQLSMALLINT(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= SQLSMALLINT(text.size())) {
            // The text did not fit: ask again for this record with room for all of it.
            text.resize(std::size_t(length) + 1);
            rc = SQLGetDiagRecW(handleType, handle, number, state.data(), &native, text.data(),
                                SQLSMALLINT(text.size()), &length);
        }
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
            break;
        }
        const auto usable =
            std::min<qsizetype>(std::max<SQLSMALLINT>(length, 0), qsizetype(text.size()) - 1);
        DiagnosticRecord record;
        record.sqlState = QString::fromUtf16(reinterpret_cast<const char16_t*>(state.data()), 5);
        record.nativeError = int(native);
        record.text = QString::fromUtf16(reinterpret_cast<const char16_t*>(text.data()), usable);
        records.push_back(std::move(record));
    }
    return records;
}

SQLRETURN check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* operation) {
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) {
        return rc;
    }
    const QString what = QString::fromLatin1(operation);
    if (rc == SQL_INVALID_HANDLE) {
        throw OdbcError(what, {DiagnosticRecord{QString(), 0, QStringLiteral("invalid handle")}});
    }
    throw OdbcError(what, diagnostics(handleType, handle));
}

SQLRETURN checkWait(SQLRETURN rc, SQLHSTMT stmt, SQLULEN seconds, const char* operation) {
    try {
        return check(rc, SQL_HANDLE_STMT, stmt, operation);
    } catch (const OdbcError& e) {
        if (e.sqlState() != QLatin1String("HYT00")) {
            throw;
        }
        throw OdbcError(QStringLiteral("The server sent nothing for %1 s; %2")
                            .arg(seconds)
                            .arg(QString::fromLatin1(operation)),
                        e.records());
    }
}

} // namespace db::detail
