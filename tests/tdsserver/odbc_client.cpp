#include "odbc_client.h"

namespace odbctest {
namespace {

std::vector<SQLWCHAR> wide(const std::string& utf8) {
    const std::u16string s = toUtf16(utf8);
    std::vector<SQLWCHAR> out(s.begin(), s.end());
    out.push_back(0);
    return out;
}

std::string narrow(const SQLWCHAR* p, std::size_t n) {
    return toUtf8(std::u16string(p, p + n));
}

} // namespace

std::u16string toUtf16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        char32_t cp = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra)
            cp = c & (0x3F >> extra);
        ++i;
        for (; extra > 0 && i < utf8.size(); --extra, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string toUtf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size())
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string connectionString(std::uint16_t port, const std::string& database,
                             const std::string& user, const std::string& password) {
    return "Driver={SQL Server};Server=127.0.0.1," + std::to_string(port) +
           ";Database=" + database + ";Uid=" + user + ";Pwd=" + password + ";";
}

std::vector<Cell> Result::column(std::size_t i) const {
    std::vector<Cell> out;
    for (const auto& r : rows)
        out.push_back(r.at(i));
    return out;
}

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    if (SQL_SUCCEEDED(rc))
        return;
    std::string text = what;
    std::string firstState;
    long firstNative = 0;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, i, state, &native, message,
                                          sizeof message / sizeof message[0], &length)))
            break;
        if (i == 1) {
            firstState = narrow(state, 5);
            firstNative = native;
        }
        text += "\n  [" + narrow(state, 5) + "] (" + std::to_string(native) + ") " +
                narrow(message, static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)));
    }
    throw OdbcError(text, firstState, firstNative);
}

Connection::Connection(const std::string& connectionString, int loginTimeoutSeconds) {
    check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_HANDLE_ENV, env_,
          "SQLAllocHandle(ENV)");
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    check(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_HANDLE_ENV, env_, "SQLAllocHandle(DBC)");
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(loginTimeoutSeconds)), 0);
    std::vector<SQLWCHAR> in = wide(connectionString);
    SQLWCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc =
        SQLDriverConnectW(dbc_, nullptr, in.data(), SQL_NTS, out, sizeof out / sizeof out[0],
                          &outLength, SQL_DRIVER_NOPROMPT);
    try {
        check(rc, SQL_HANDLE_DBC, dbc_, "SQLDriverConnectW");
    } catch (...) {
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
        throw;
    }
}

Connection::~Connection() {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

Result Connection::query(const std::string& sql, int timeoutSeconds) {
    Statement s(*this, timeoutSeconds);
    s.execute(sql);
    return s.readAll();
}

Result Connection::tables(const std::optional<std::string>& types) {
    Statement s(*this);
    std::vector<SQLWCHAR> t = types ? wide(*types) : std::vector<SQLWCHAR>{};
    check(SQLTablesW(s.handle(), nullptr, 0, nullptr, 0, nullptr, 0, types ? t.data() : nullptr,
                     types ? SQL_NTS : 0),
          SQL_HANDLE_STMT, s.handle(), "SQLTablesW");
    return s.readAll();
}

Statement::Statement(Connection& c, int timeoutSeconds) {
    check(SQLAllocHandle(SQL_HANDLE_STMT, c.handle(), &stmt_), SQL_HANDLE_DBC, c.handle(),
          "SQLAllocHandle(STMT)");
    SQLSetStmtAttr(stmt_, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds)), 0);
}

Statement::~Statement() {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

void Statement::execute(const std::string& sql) {
    std::vector<SQLWCHAR> text = wide(sql);
    const SQLRETURN rc = SQLExecDirectW(stmt_, text.data(), SQL_NTS);
    if (rc != SQL_NO_DATA) // a statement without a result
        check(rc, SQL_HANDLE_STMT, stmt_, "SQLExecDirectW");
}

bool Statement::fetch() {
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA)
        return false;
    check(rc, SQL_HANDLE_STMT, stmt_, "SQLFetch");
    return true;
}

Cell Statement::get(SQLUSMALLINT column) {
    std::u16string value;
    SQLWCHAR buffer[2048];
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(stmt_, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        check(rc, SQL_HANDLE_STMT, stmt_, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return std::nullopt;
        const std::size_t capacity = sizeof buffer / sizeof buffer[0] - 1;
        const bool truncated =
            indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) / 2 > capacity;
        const std::size_t n =
            truncated ? capacity : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
        value.append(buffer, buffer + n);
        if (!truncated)
            break;
    }
    return toUtf8(value);
}

void Statement::cancel() {
    check(SQLCancel(stmt_), SQL_HANDLE_STMT, stmt_, "SQLCancel");
}

Result Statement::readAll() {
    Result r;
    SQLSMALLINT count = 0;
    check(SQLNumResultCols(stmt_, &count), SQL_HANDLE_STMT, stmt_, "SQLNumResultCols");
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        SQLWCHAR name[256];
        SQLSMALLINT nameLength = 0;
        ColumnInfo c;
        SQLSMALLINT nullable = 0;
        check(SQLDescribeColW(stmt_, static_cast<SQLUSMALLINT>(i), name, 256, &nameLength, &c.type,
                              &c.size, &c.digits, &nullable),
              SQL_HANDLE_STMT, stmt_, "SQLDescribeColW");
        c.name = narrow(name, static_cast<std::size_t>(nameLength));
        r.columns.push_back(c);
    }
    while (count > 0 && fetch()) {
        std::vector<Cell> row;
        for (SQLSMALLINT i = 1; i <= count; ++i)
            row.push_back(get(static_cast<SQLUSMALLINT>(i)));
        r.rows.push_back(std::move(row));
    }
    return r;
}

} // namespace odbctest
