#pragma once

// A small client over the ODBC C API, for driving the test server through unixODBC and the
// real FreeTDS driver exactly as an application would.

#include <cstdint>
#include <optional>
#include <sql.h>
#include <sqlext.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace odbctest {

class OdbcError : public std::runtime_error {
public:
    OdbcError(const std::string& what, std::string state, long native)
        : std::runtime_error(what), state_(std::move(state)), native_(native) {}
    const std::string& state() const { return state_; } // SQLSTATE of the first record
    long native() const { return native_; }             // native error of the first record

private:
    std::string state_;
    long native_;
};

std::u16string toUtf16(const std::string& utf8);
std::string toUtf8(const std::u16string& utf16);

// "Driver={SQL Server};Server=127.0.0.1,PORT;Database=...;Uid=...;Pwd=...;"
std::string connectionString(std::uint16_t port, const std::string& database,
                             const std::string& user = "demo",
                             const std::string& password = "demo");

using Cell = std::optional<std::string>; // nullopt for NULL

struct ColumnInfo {
    std::string name;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
};

struct Result {
    std::vector<ColumnInfo> columns;
    std::vector<std::vector<Cell>> rows;
    std::vector<Cell> column(std::size_t i) const;
};

class Statement;

class Connection {
public:
    explicit Connection(const std::string& connectionString, int loginTimeoutSeconds = 5);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // SQLExecDirectW, then every row as text (SQL_C_WCHAR).
    Result query(const std::string& sql, int timeoutSeconds = 15);
    // SQLTablesW with no restrictions (or only a type list such as "TABLE" or "'TABLE','VIEW'").
    Result tables(const std::optional<std::string>& types = std::nullopt);
    SQLHDBC handle() const { return dbc_; }

private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
};

// A statement whose rows are fetched one by one.
class Statement {
public:
    explicit Statement(Connection& c, int timeoutSeconds = 15);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void execute(const std::string& sql);
    bool fetch();
    Cell get(SQLUSMALLINT column); // 1-based
    void cancel();
    Result readAll();
    SQLHSTMT handle() const { return stmt_; }

private:
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

// Throws OdbcError carrying every diagnostic record when rc is not a success.
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what);

} // namespace odbctest
