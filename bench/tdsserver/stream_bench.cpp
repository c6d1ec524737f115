// Rows per second from the test server to a plain ODBC fetch loop through unixODBC and FreeTDS,
// for an 8-column table. The server must never be what limits the export benchmarks.
//
//   build/bench/tdsserver/tdsserver_bench

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>
#include <sql.h>
#include <sqlext.h>
#include <stdexcept>
#include <string>
#include <tdsserver/server.h>

namespace {

constexpr int kRows = 200000;

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
        return;
    SQLCHAR state[6] = {};
    SQLCHAR message[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
    throw std::runtime_error(std::string(what) + ": " + reinterpret_cast<char*>(message));
}

struct Fixture {
    Fixture() {
        server.addDatabase("bench", ":memory:");
        server.execSql("bench", R"(
            CREATE TABLE rows8(id int, code bigint, name nvarchar(40), city varchar(30),
                               amount decimal(12,2), ratio float, created datetime2(3), active bit);
            WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000)
            INSERT INTO rows8 SELECT i, i * 1000003, 'Customer name ' || i, 'City ' || (i % 500),
                                     (i % 100000) / 100.0, i / 7.0,
                                     '2024-01-01 12:34:56.789', i % 2
                              FROM n;
        )");
        const std::uint16_t port = server.start();
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        const std::string cs = "Driver={SQL Server};Server=127.0.0.1," + std::to_string(port) +
                               ";Database=bench;Uid=demo;Pwd=demo;";
        check(SQLDriverConnect(dbc, nullptr,
                               reinterpret_cast<SQLCHAR*>(const_cast<char*>(cs.c_str())), SQL_NTS,
                               nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
              SQL_HANDLE_DBC, dbc, "SQLDriverConnect");
    }
    ~Fixture() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    tdsserver::Server server;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// Runs the query and fetches every row; `perRow` reads the current row.
template <typename PerRow>
void streamTable(benchmark::State& state, PerRow perRow) {
    Fixture& f = fixture();
    std::int64_t rows = 0;
    for (auto _ : state) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, f.dbc, &stmt);
        check(SQLExecDirect(stmt,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT * FROM [rows8];")),
                            SQL_NTS),
              SQL_HANDLE_STMT, stmt, "SQLExecDirect");
        std::int64_t n = 0;
        for (;;) {
            const SQLRETURN rc = SQLFetch(stmt);
            if (rc == SQL_NO_DATA)
                break;
            check(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
            perRow(stmt);
            ++n;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        if (n != kRows)
            state.SkipWithError("not every row arrived");
        rows += n;
    }
    state.SetItemsProcessed(rows);
}

// The way an export reads: every column as text, column by column.
void BM_FetchAsText(benchmark::State& state) {
    SQLWCHAR buffer[256];
    streamTable(state, [&](SQLHSTMT stmt) {
        for (SQLUSMALLINT c = 1; c <= 8; ++c) {
            SQLLEN indicator = 0;
            SQLGetData(stmt, c, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
            benchmark::DoNotOptimize(indicator);
        }
    });
}
BENCHMARK(BM_FetchAsText)->Unit(benchmark::kMillisecond)->UseRealTime();

// The fetch loop alone: the row crosses the wire and the driver, nothing is converted.
void BM_FetchOnly(benchmark::State& state) {
    streamTable(state, [](SQLHSTMT) {});
}
BENCHMARK(BM_FetchOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    setenv("ODBCSYSINI", TALLOWBY_ODBCSYSINI, 0);
    setenv("TDSVER", "7.4", 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
