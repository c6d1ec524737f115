// The floor of the export benchmark: runs one query through unixODBC and the driver registered
// as "SQL Server", fetches every value of every row as text and throws the text away. Nothing an
// export of the same table does can cost less, so bench/export/run measures the export against
// this.
//
//   bench_export_floor [--bind] CONNECTION_STRING QUERY
//
// By default each value is read with SQLGetData(SQL_C_CHAR), column by column, as a reader that
// does not know its values' sizes in advance does. --bind binds one SQL_C_CHAR buffer per column
// instead and lets SQLFetch fill them all. Prints "<rows> rows" on standard output; on a driver
// error prints the driver's message on standard error and exits 1 (2 for a usage error).

#include <cstdio>
#include <cstdlib>
#include <sql.h>
#include <sqlext.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class DriverError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string text;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[6] = {};
        SQLCHAR message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, record, state, &native, message,
                                         sizeof message, &length)))
            break;
        if (!text.empty())
            text += "; ";
        text += reinterpret_cast<const char*>(state);
        text += ' ';
        text += reinterpret_cast<const char*>(message);
    }
    return text.empty() ? std::string("no diagnostics") : text;
}

SQLRETURN check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
        return rc;
    throw DriverError(std::string(what) + ": " + diagnostics(type, handle));
}

// One ODBC handle, freed when it goes out of scope.
class Handle {
public:
    Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_)))
            throw DriverError("SQLAllocHandle failed");
    }
    ~Handle() { SQLFreeHandle(type_, handle_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    SQLHANDLE get() const { return handle_; }
    SQLSMALLINT type() const { return type_; }

private:
    SQLSMALLINT type_;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// Reads every column of the current row with SQLGetData, in as many pieces as a value needs.
void readRowByGetData(const Handle& stmt, SQLSMALLINT columns, std::vector<char>& buffer) {
    for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = check(SQLGetData(stmt.get(), c, SQL_C_CHAR, buffer.data(),
                                                  SQLLEN(buffer.size()), &indicator),
                                       stmt.type(), stmt.get(), "SQLGetData");
            // SQL_SUCCESS_WITH_INFO here means 01004: the value goes on in the next piece.
            if (rc != SQL_SUCCESS_WITH_INFO || indicator == SQL_NULL_DATA)
                break;
        }
    }
}

long long fetchAll(const Handle& stmt, bool bind) {
    SQLSMALLINT columns = 0;
    check(SQLNumResultCols(stmt.get(), &columns), stmt.type(), stmt.get(), "SQLNumResultCols");
    if (columns <= 0)
        throw DriverError("the query returned no result set");

    std::vector<char> buffer(4096);
    std::vector<std::vector<char>> bound;
    std::vector<SQLLEN> indicators(std::size_t(columns), 0);
    if (bind) {
        bound.resize(std::size_t(columns));
        for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
            SQLLEN display = 0;
            check(SQLColAttribute(stmt.get(), c, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr,
                                  &display),
                  stmt.type(), stmt.get(), "SQLColAttribute");
            // Up to four bytes a character, whatever the client character set.
            const SQLLEN size = display > 0 && display < 8000 ? display * 4 + 1 : 32001;
            auto& column = bound[c - 1u];
            column.resize(std::size_t(size));
            check(SQLBindCol(stmt.get(), c, SQL_C_CHAR, column.data(), size, &indicators[c - 1u]),
                  stmt.type(), stmt.get(), "SQLBindCol");
        }
    }

    long long rows = 0;
    for (;;) {
        const SQLRETURN rc = check(SQLFetch(stmt.get()), stmt.type(), stmt.get(), "SQLFetch");
        if (rc == SQL_NO_DATA)
            break;
        if (bind) {
            // A bound value that did not fit would make the floor look cheaper than it is.
            for (SQLSMALLINT c = 0; c < columns; ++c) {
                const SQLLEN n = indicators[std::size_t(c)];
                if (n != SQL_NULL_DATA && n >= SQLLEN(bound[std::size_t(c)].size()))
                    throw DriverError("a value of column " + std::to_string(c + 1) +
                                      " is longer than its bound buffer");
            }
        } else {
            readRowByGetData(stmt, columns, buffer);
        }
        ++rows;
    }
    return rows;
}

} // namespace

int main(int argc, char** argv) {
    bool bind = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--bind")
            bind = true;
        else
            args.push_back(arg);
    }
    if (args.size() != 2) {
        std::fputs("usage: bench_export_floor [--bind] CONNECTION_STRING QUERY\n", stderr);
        return 2;
    }
    // The build's own driver registration, unless the caller chose one.
    setenv("ODBCSYSINI", TALLOWBY_ODBCSYSINI, 0);
    setenv("TDSVER", "7.4", 0);

    try {
        Handle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
        check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              env.type(), env.get(), "SQLSetEnvAttr");
        Handle dbc(SQL_HANDLE_DBC, env.get());
        std::string connection = args[0];
        check(SQLDriverConnect(dbc.get(), nullptr, reinterpret_cast<SQLCHAR*>(connection.data()),
                               SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
              dbc.type(), dbc.get(), "SQLDriverConnect");
        long long rows = 0;
        {
            Handle stmt(SQL_HANDLE_STMT, dbc.get());
            std::string query = args[1];
            check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(query.data()), SQL_NTS),
                  stmt.type(), stmt.get(), "SQLExecDirect");
            rows = fetchAll(stmt, bind);
        }
        SQLDisconnect(dbc.get());
        std::printf("%lld rows\n", rows);
    } catch (const DriverError& e) {
        std::fprintf(stderr, "bench_export_floor: %s\n", e.what());
        return 1;
    }
    return 0;
}
