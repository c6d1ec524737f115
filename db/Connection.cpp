#include "db/Connection.h"

#include "db/Cancellation.h"
#include "db/Error.h"
#include "db/OdbcCall.h"
#include "db/OdbcHandles.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace db {

using detail::check;

Connection::Connection(std::shared_ptr<detail::ConnectionHandles> handles)
    : handles_(std::move(handles)) {}

Connection::~Connection() = default;
Connection::Connection(Connection&&) noexcept = default;
Connection& Connection::operator=(Connection&&) noexcept = default;

namespace {

// Gives `stmt` the connection's inactivity limit.
void limitWaits(SQLHSTMT stmt, SQLULEN seconds) {
    check(SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds), 0),
          SQL_HANDLE_STMT, stmt, "setting the query time-out");
}

// A session may start with a small text size (a server's configured default, or a login
// trigger's SET TEXTSIZE), and SQL Server then cuts every text, ntext, image and (max) value to
// it without a word. The largest is set at every connection, as Microsoft's own drivers do, so
// that a value always comes whole; and the size in force is read back, so that a server that still
// holds the session to a smaller one is an error here rather than values cut short later. Only
// SQL Server knows the statements.
void allowWholeLongValues(SQLHDBC dbc, SQLULEN queryTimeoutSeconds) {
    char dbms[128] = {};
    SQLSMALLINT length = 0;
    check(SQLGetInfo(dbc, SQL_DBMS_NAME, dbms, sizeof dbms, &length), SQL_HANDLE_DBC, dbc,
          "asking which server this is");
    if (std::string_view(dbms).find("SQL Server") == std::string_view::npos)
        return;
    detail::Handle statement(SQL_HANDLE_STMT, dbc, SQL_HANDLE_DBC);
    statement.watchForCancel();
    SQLHSTMT stmt = statement.get();
    limitWaits(stmt, queryTimeoutSeconds);
    QString text = QStringLiteral("SET TEXTSIZE 2147483647; SELECT @@TEXTSIZE");
    detail::checkWait(
        SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()), SQLINTEGER(text.size())),
        stmt, queryTimeoutSeconds, "setting the text size");
    SQLSMALLINT columns = 0;
    check(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt, "setting the text size");
    while (columns == 0) {
        const SQLRETURN rc = detail::checkWait(SQLMoreResults(stmt), stmt, queryTimeoutSeconds,
                                               "setting the text size");
        if (rc == SQL_NO_DATA)
            throw Error(QStringLiteral("The server did not tell the text size of the session."));
        check(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt, "setting the text size");
    }
    SQLINTEGER size = 0;
    SQLLEN indicator = 0;
    detail::checkWait(SQLFetch(stmt), stmt, queryTimeoutSeconds, "setting the text size");
    check(SQLGetData(stmt, 1, SQL_C_SLONG, &size, sizeof size, &indicator), SQL_HANDLE_STMT, stmt,
          "setting the text size");
    if (size < 2147483647) {
        throw Error(QStringLiteral("The server holds this session to a text size of %1 bytes: it "
                                   "would cut every longer text, ntext, image or (max) value "
                                   "short, so nothing is read.")
                        .arg(size));
    }
}

} // namespace

Connection Connection::open(const QString& connectionString, std::chrono::seconds loginTimeout,
                            std::chrono::seconds queryTimeout) {
    if (const Cancellation* cancellation = Cancellation::current())
        cancellation->throwIfCancelled();
    auto handles = std::make_shared<detail::ConnectionHandles>();
    handles->queryTimeoutSeconds =
        SQLULEN(std::max<std::chrono::seconds::rep>(queryTimeout.count(), 1));
    SQLHDBC dbc = handles->dbc.get();
    check(
        SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeout.count())),
                          SQL_IS_UINTEGER),
        SQL_HANDLE_DBC, dbc, "setting the login time-out");
    // The string goes with its length, so nothing in it can end it early.
    if (connectionString.size() > 32767) {
        throw Error(QStringLiteral("The login values are too long for the driver."));
    }
    QString in = connectionString;
    SQLSMALLINT outLength = 0;
    check(SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()),
                            SQLSMALLINT(in.size()), nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc, "connect");
    handles->connected = true;
    check(SQLGetInfo(dbc, SQL_GETDATA_EXTENSIONS, &handles->getDataExtensions,
                     sizeof handles->getDataExtensions, nullptr),
          SQL_HANDLE_DBC, dbc, "asking what SQLGetData can do");
    // A login cannot be cancelled while it runs: work cancelled meanwhile stops here.
    if (const Cancellation* cancellation = Cancellation::current())
        cancellation->throwIfCancelled();
    allowWholeLongValues(dbc, handles->queryTimeoutSeconds);
    return Connection(std::move(handles));
}

ResultSet Connection::tables() {
    SQLHDBC dbc = handles_->dbc.get();
    auto statement = std::make_unique<detail::Handle>(SQL_HANDLE_STMT, dbc, SQL_HANDLE_DBC);
    statement->watchForCancel();
    SQLHSTMT stmt = statement->get();
    limitWaits(stmt, handles_->queryTimeoutSeconds);
    detail::checkWait(SQLTablesW(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), stmt,
                      handles_->queryTimeoutSeconds, "reading the table catalogue");
    return ResultSet(handles_, std::move(statement));
}

ResultSet Connection::query(const QString& sql, ReadMode mode) {
    SQLHDBC dbc = handles_->dbc.get();
    auto statement = std::make_unique<detail::Handle>(SQL_HANDLE_STMT, dbc, SQL_HANDLE_DBC);
    statement->watchForCancel();
    SQLHSTMT stmt = statement->get();
    limitWaits(stmt, handles_->queryTimeoutSeconds);
    QString text = sql;
    detail::checkWait(
        SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()), SQLINTEGER(text.size())),
        stmt, handles_->queryTimeoutSeconds, "running the query");
    return ResultSet(handles_, std::move(statement), mode);
}

} // namespace db
