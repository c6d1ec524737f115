#include "server_fixture.h"

using odbctest::Cell;
using odbctest::Connection;
using ::testing::ElementsAre;

namespace {

// TABLE_SCHEM.TABLE_NAME:TABLE_TYPE for each row.
std::vector<std::string> rows(const odbctest::Result& r) {
    std::vector<std::string> out;
    for (const auto& row : r.rows)
        out.push_back(row.at(1).value_or("NULL") + "." + row.at(2).value_or("NULL") + ":" +
                      row.at(3).value_or("NULL"));
    return out;
}

} // namespace

class CatalogTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        server.execSql("testdb", R"(
            CREATE TABLE zebra(id int);
            CREATE TABLE Apple(id INTEGER PRIMARY KEY AUTOINCREMENT);
            INSERT INTO Apple DEFAULT VALUES;
            CREATE TABLE "a]b"(x int);
            CREATE VIEW apple_view AS SELECT * FROM Apple;
        )");
        server.execSql("testdb", "CREATE TABLE zebra(id int); CREATE TABLE beta(x int);", "sales");
    }
};

TEST_F(CatalogTest, SqlTablesListsEveryObjectOrderedByTypeSchemaAndName) {
    Connection c(connection());
    const auto r = c.tables();
    ASSERT_EQ(r.columns.size(), 5u);
    EXPECT_EQ(r.columns[0].name, "TABLE_CAT");
    EXPECT_EQ(r.columns[2].name, "TABLE_NAME");
    EXPECT_EQ(r.columns[3].name, "TABLE_TYPE");
    EXPECT_THAT(rows(r), ElementsAre("dbo.sqlite_sequence:SYSTEM TABLE", "dbo.a]b:TABLE",
                                     "dbo.Apple:TABLE", "dbo.zebra:TABLE", "sales.beta:TABLE",
                                     "sales.zebra:TABLE", "dbo.apple_view:VIEW"));
    for (const auto& row : r.rows) {
        EXPECT_EQ(row.at(0), Cell("testdb"));
        EXPECT_EQ(row.at(4), Cell()); // REMARKS
    }
}

TEST_F(CatalogTest, SqlTablesSendsSpTablesAsAnRpc) {
    Connection c(connection());
    c.tables();
    c.tables(std::string("TABLE"));
    const auto rpcs = server.rpcs();
    ASSERT_EQ(rpcs.size(), 2u);
    EXPECT_EQ(rpcs[0].procedure, "sp_tables");
    EXPECT_TRUE(rpcs[0].params.empty());
    ASSERT_EQ(rpcs[1].params.size(), 1u);
    EXPECT_EQ(rpcs[1].params[0].name, "@table_type");
    EXPECT_EQ(rpcs[1].params[0].value, "'TABLE'");
}

TEST_F(CatalogTest, TypeFilterKeepsOnlyThoseTypes) {
    Connection c(connection());
    EXPECT_THAT(rows(c.tables(std::string("'VIEW'"))), ElementsAre("dbo.apple_view:VIEW"));
    EXPECT_EQ(c.tables(std::string("TABLE")).rows.size(), 5u);
    EXPECT_EQ(c.tables(std::string("'TABLE','VIEW'")).rows.size(), 6u);
}

TEST_F(CatalogTest, FixedCatalogComesBackInItsOwnOrderWithItsOwnTypes) {
    server.setCatalog("testdb", {{"dbo", "sysdiagrams", "TABLE"},
                                 {"dbo", "Physics", "TABLE"},
                                 {"dbo", "Lower", "table"},
                                 {"dbo", "Padded", "TABLE "},
                                 {"sales", "Physics", "TABLE"},
                                 {"sys", "objects", "SYSTEM TABLE"},
                                 {"dbo", "A view", "VIEW"}});
    Connection c(connection());
    EXPECT_THAT(rows(c.tables()),
                ElementsAre("dbo.sysdiagrams:TABLE", "dbo.Physics:TABLE", "dbo.Lower:table",
                            "dbo.Padded:TABLE ", "sales.Physics:TABLE", "sys.objects:SYSTEM TABLE",
                            "dbo.A view:VIEW"));
    server.resetCatalog("testdb");
    EXPECT_EQ(c.tables().rows.size(), 7u);
}

TEST_F(CatalogTest, EmptyDatabaseHasAnEmptyCatalog) {
    server.addDatabase("empty", ":memory:");
    Connection c(connection("empty"));
    const auto r = c.tables();
    EXPECT_EQ(r.columns.size(), 5u);
    EXPECT_TRUE(r.rows.empty());
}

TEST_F(CatalogTest, TablesCreatedAfterConnectingAreListed) {
    Connection c(connection());
    server.execSql("testdb", "CREATE TABLE later(x int)");
    server.execSql("testdb", "CREATE TABLE elsewhere(x int)", "newschema");
    const auto listed = rows(c.tables());
    EXPECT_NE(std::find(listed.begin(), listed.end(), "dbo.later:TABLE"), listed.end());
    EXPECT_NE(std::find(listed.begin(), listed.end(), "newschema.elsewhere:TABLE"), listed.end());
    EXPECT_NO_THROW(c.query("SELECT * FROM [newschema].[elsewhere]"));
}
