#include "server_fixture.h"

using odbctest::Cell;
using odbctest::Connection;
using odbctest::OdbcError;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::vector<std::string> names(const odbctest::Result& r) {
    std::vector<std::string> out;
    for (const auto& c : r.columns)
        out.push_back(c.name);
    return out;
}

template <typename F>
OdbcError expectOdbcError(F&& f) {
    try {
        f();
    } catch (const OdbcError& e) {
        return e;
    }
    ADD_FAILURE() << "no ODBC error";
    return OdbcError("", "", 0);
}

} // namespace

class QueryTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        server.execSql("testdb", R"(
            CREATE TABLE people(id int, name nvarchar(100), note [nvarchar(max)]);
            INSERT INTO people VALUES
                (1, 'Ann', 'a, b'),
                (2, 'Bob "the" O''Brien', 'line one' || char(13) || char(10) || 'line two'),
                (3, '<tag> & more', NULL),
                (4, 'Zoë Ångström 日本 😀', '');
            CREATE TABLE "odd]name"(v int);
            INSERT INTO "odd]name" VALUES (7);
            CREATE TABLE "with space"(v int);
            INSERT INTO "with space" VALUES (8);
            CREATE TABLE empty_table(a int, b nvarchar(10));
        )");
        server.execSql("testdb", R"(
            CREATE TABLE people(id int, region varchar(20));
            INSERT INTO people VALUES (10, 'north');
        )",
                       "sales");
    }
};

TEST_F(QueryTest, SelectStarReturnsColumnsAndValuesUnchanged) {
    Connection c(connection());
    const auto r = c.query("SELECT * FROM [people];");
    EXPECT_THAT(names(r), ElementsAre("id", "name", "note"));
    ASSERT_EQ(r.rows.size(), 4u);
    EXPECT_THAT(r.rows[0], ElementsAre(Cell("1"), Cell("Ann"), Cell("a, b")));
    EXPECT_THAT(r.rows[1],
                ElementsAre(Cell("2"), Cell("Bob \"the\" O'Brien"), Cell("line one\r\nline two")));
    EXPECT_THAT(r.rows[2], ElementsAre(Cell("3"), Cell("<tag> & more"), Cell()));
    EXPECT_THAT(r.rows[3], ElementsAre(Cell("4"), Cell("Zoë Ångström 日本 😀"), Cell("")));
}

TEST_F(QueryTest, NameFormsThatReachTheSameTable) {
    Connection c(connection());
    for (const char* sql :
         {"SELECT * FROM people", "select * from PEOPLE", "SELECT * FROM [dbo].[people]",
          "SELECT * FROM dbo.people p", "SELECT * FROM [testdb].[dbo].[people] AS x",
          "SELECT * FROM \"people\"", "  -- comment\nSELECT /* c */ * FROM [people] ; "}) {
        EXPECT_EQ(c.query(sql).rows.size(), 4u) << sql;
    }
}

TEST_F(QueryTest, SameTableNameInAnotherSchemaIsADifferentTable) {
    Connection c(connection());
    const auto r = c.query("SELECT * FROM [sales].[people];");
    EXPECT_THAT(names(r), ElementsAre("id", "region"));
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_THAT(r.rows[0], ElementsAre(Cell("10"), Cell("north")));
}

TEST_F(QueryTest, BracketsDoubleTheClosingBracketAndKeepSpaces) {
    Connection c(connection());
    EXPECT_THAT(c.query("SELECT * FROM [odd]]name];").rows[0], ElementsAre(Cell("7")));
    EXPECT_THAT(c.query("SELECT * FROM [with space];").rows[0], ElementsAre(Cell("8")));
    // The name pasted between brackets without doubling is a syntax error, as on SQL Server.
    const OdbcError e = expectOdbcError([&] { c.query("SELECT * FROM [odd]name];"); });
    EXPECT_EQ(e.native(), 102) << e.what();
}

TEST_F(QueryTest, EmptyTableGivesColumnsAndNoRows) {
    Connection c(connection());
    const auto r = c.query("SELECT * FROM [empty_table];");
    EXPECT_THAT(names(r), ElementsAre("a", "b"));
    EXPECT_TRUE(r.rows.empty());
}

TEST_F(QueryTest, ErrorsLeaveTheConnectionUsable) {
    Connection c(connection());
    struct Case {
        const char* sql;
        long native;
        const char* message;
    };
    for (const Case& k : {
             Case{"SELECT * FROM [nope];", 208, "Invalid object name 'nope'."},
             Case{"SELECT * FROM [sales].[empty_table]", 208,
                  "Invalid object name 'sales.empty_table'."},
             Case{"SELECT * FROM [nosuchschema].[people]", 208,
                  "Invalid object name 'nosuchschema.people'."},
             Case{"SELECT id FROM people", 102, "Incorrect syntax near 'id'."},
             Case{"DELETE FROM people", 102, "Incorrect syntax near 'DELETE'."},
             Case{"SELECT * FROM people WHERE id = 1", 102, "Incorrect syntax near 'WHERE'."},
             Case{"SELECT * FROM", 102, "Incorrect syntax near 'FROM'."},
             Case{"SELECT * FROM [people", 105, "Unclosed quotation mark"},
             Case{"SET NOSUCHOPTION ON", 195, "'nosuchoption' is not a recognized SET option."},
             Case{"drop_everything", 2812, "Could not find stored procedure 'drop_everything'."},
         }) {
        const OdbcError e = expectOdbcError([&] { c.query(k.sql); });
        EXPECT_EQ(e.native(), k.native) << k.sql << "\n" << e.what();
        EXPECT_THAT(e.what(), HasSubstr(k.message)) << k.sql;
        EXPECT_EQ(c.query("SELECT * FROM [people]").rows.size(), 4u) << "after " << k.sql;
    }
    // Nothing was changed by the refused statements.
    EXPECT_EQ(c.query("SELECT * FROM [people]").rows.size(), 4u);
}

TEST_F(QueryTest, SetStatementsAreAcceptedAndFmtOnlyDescribesWithoutRows) {
    Connection c(connection());
    EXPECT_NO_THROW(c.query("SET TEXTSIZE 2147483647; SET ANSI_NULLS ON SET QUOTED_IDENTIFIER ON"));
    const auto r = c.query("SET FMTONLY ON SELECT * FROM [people] SET FMTONLY OFF");
    EXPECT_THAT(names(r), ElementsAre("id", "name", "note"));
    EXPECT_TRUE(r.rows.empty());
    EXPECT_EQ(c.query("SELECT * FROM [people]").rows.size(), 4u);
}

TEST_F(QueryTest, UseChangesTheDatabaseOfTheConnection) {
    server.addDatabase("other", ":memory:");
    server.execSql("other", "CREATE TABLE only_there(x int); INSERT INTO only_there VALUES (5);");
    Connection c(connection());
    EXPECT_THROW(c.query("SELECT * FROM only_there"), OdbcError);
    c.query("USE [other]");
    EXPECT_THAT(c.query("SELECT * FROM only_there").rows[0], ElementsAre(Cell("5")));
    const OdbcError e = expectOdbcError([&] { c.query("USE nosuchdb"); });
    EXPECT_EQ(e.native(), 911);
}

TEST_F(QueryTest, BatchTextIsRecordedExactly) {
    Connection c(connection());
    const std::string sql = "SELECT * FROM [people] -- Zoë 😀";
    c.query(sql);
    const auto batches = server.batches();
    ASSERT_FALSE(batches.empty());
    EXPECT_EQ(batches.back(), sql);
}

TEST_F(QueryTest, PreparedStatementsRunToo) {
    Connection c(connection());
    odbctest::Statement s(c);
    std::vector<SQLWCHAR> sql;
    for (const char16_t ch : odbctest::toUtf16("SELECT * FROM [people]"))
        sql.push_back(ch);
    sql.push_back(0);
    odbctest::check(SQLPrepareW(s.handle(), sql.data(), SQL_NTS), SQL_HANDLE_STMT, s.handle(),
                    "SQLPrepareW");
    for (int run = 0; run < 2; ++run) {
        odbctest::check(SQLExecute(s.handle()), SQL_HANDLE_STMT, s.handle(), "SQLExecute");
        EXPECT_EQ(s.readAll().rows.size(), 4u);
        SQLFreeStmt(s.handle(), SQL_CLOSE);
    }
}

TEST_F(QueryTest, TransactionsOfTheDriverAreAcceptedOnReadOnlyData) {
    Connection c(connection());
    odbctest::check(SQLSetConnectAttr(c.handle(), SQL_ATTR_AUTOCOMMIT,
                                      reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
                    SQL_HANDLE_DBC, c.handle(), "autocommit off");
    EXPECT_EQ(c.query("SELECT * FROM [people]").rows.size(), 4u);
    odbctest::check(SQLEndTran(SQL_HANDLE_DBC, c.handle(), SQL_COMMIT), SQL_HANDLE_DBC, c.handle(),
                    "commit");
    odbctest::check(SQLEndTran(SQL_HANDLE_DBC, c.handle(), SQL_ROLLBACK), SQL_HANDLE_DBC,
                    c.handle(), "rollback");
    EXPECT_EQ(c.query("SELECT * FROM [people]").rows.size(), 4u);
}
