#pragma once

// Internal to the database layer: the one place where an ODBC return code is judged.

#include "db/Error.h"

#include <sql.h>
#include <sqlext.h>

namespace db::detail {

// Every diagnostic record that `handle` holds after its last call, in order.
std::vector<DiagnosticRecord> diagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// Returns `rc` when the call worked (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO or SQL_NO_DATA, which
// the caller tells apart where it matters); otherwise throws OdbcError with the diagnostic
// records of `handle`. `operation` names the step for the message.
SQLRETURN check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* operation);

// check() for a statement call that waits for the server: when the query time-out of
// `seconds` expired, the message says first that the server sent nothing for that long.
SQLRETURN checkWait(SQLRETURN rc, SQLHSTMT stmt, SQLULEN seconds, const char* operation);

} // namespace db::detail
