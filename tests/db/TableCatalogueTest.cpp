#include "db/TableCatalogue.h"

#include "Printers.h"
#include "TestServer.h"
#include "db/Error.h"

#include <string>
#include <vector>

namespace db {
inline void PrintTo(const TableEntry& e, std::ostream* out) {
    *out << e.schema.toStdString() << '.' << e.name.toStdString();
}
} // namespace db

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Records what the table page would see, in order: "clear", "yield", and each entry.
struct RecordingSink final : db::TableListSink, db::Progress {
    std::vector<std::string> events;
    std::vector<db::TableEntry> entries;
    void clear() override { events.push_back("clear"); }
    void serve() override { events.push_back("yield"); }
    void append(const db::TableEntry& entry) override {
        events.push_back("add " + entry.name.toStdString());
        entries.push_back(entry);
    }
};

using TableCatalogueTest = ServerTest;

// Only type "TABLE" exactly, and no "SYS" in the upper-cased name; one yield per row of type
// "TABLE", listed or not, none for other rows.
TEST_F(TableCatalogueTest, FilterByTypeAndName) {
    server.setCatalog("shop", {
                                  {"dbo", "sysdiagrams", "TABLE"},
                                  {"dbo", "Physics", "TABLE"},
                                  {"dbo", "Systems", "TABLE"},
                                  {"dbo", "OrdersView", "VIEW"},
                                  {"dbo", "EasyShipping", "TABLE"},
                                  {"sys", "objects", "SYSTEM TABLE"},
                                  {"dbo", "Lower", "table"},
                                  {"dbo", "Padded", "TABLE "},
                                  {"dbo", "Plural", "TABLES"},
                                  {"dbo", "Analysis", "TABLE"},
                                  {"dbo", "sYs_log", "TABLE"},
                                  {"dbo", "S_Y_S", "TABLE"},
                              });
    RecordingSink sink;
    MSSQL::ListTables(login(), sink, sink, kShortTimeout);
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"clear", "yield", "yield", "add Physics", "yield", "yield",
                                        "yield", "add Analysis", "yield", "yield", "add S_Y_S"}));
}

TEST_F(TableCatalogueTest, DeliveryOrderIsKept) {
    server.setCatalog(
        "shop", {{"dbo", "Zeta"}, {"dbo", "alpha"}, {"dbo", "Beta"}, {"dbo", "10"}, {"dbo", "2"}});
    const std::vector<db::TableEntry> expected{{u("dbo"), u("Zeta")},
                                               {u("dbo"), u("alpha")},
                                               {u("dbo"), u("Beta")},
                                               {u("dbo"), u("10")},
                                               {u("dbo"), u("2")}};
    EXPECT_EQ(MSSQL::ListTables(login(), kShortTimeout), expected);
}

// Two tables of the same name give two equal-looking entries; the schema beside each tells which
// is which.
TEST_F(TableCatalogueTest, SameNameInTwoSchemasKeepsEachSchema) {
    sql("CREATE TABLE Items (A INT); CREATE TABLE Customers (A INT);");
    sql("CREATE TABLE Items (B INT);", "sales");
    sql("CREATE VIEW Recent AS SELECT * FROM Customers;");
    const std::vector<db::TableEntry> expected{
        {u("dbo"), u("Customers")}, {u("dbo"), u("Items")}, {u("sales"), u("Items")}};
    EXPECT_EQ(MSSQL::ListTables(login(), kShortTimeout), expected);
}

TEST_F(TableCatalogueTest, NamesComeAsDelivered) {
    server.setCatalog(
        "shop", {{"dbo", "Größe mit Leerzeichen"}, {"dbo", "a,b;c]d"}, {"dbo", "\xE8\xA1\xA8"}});
    const std::vector<db::TableEntry> expected{{u("dbo"), u("Größe mit Leerzeichen")},
                                               {u("dbo"), u("a,b;c]d")},
                                               {u("dbo"), u("\xE8\xA1\xA8")}};
    EXPECT_EQ(MSSQL::ListTables(login(), kShortTimeout), expected);
}

TEST_F(TableCatalogueTest, DatabaseWithoutTablesGivesAnEmptyList) {
    RecordingSink sink;
    MSSQL::ListTables(login(), sink, sink, kShortTimeout);
    EXPECT_EQ(sink.events, std::vector<std::string>{"clear"});
}

// A login that fails leaves the list as it was: clear() is not called.
TEST_F(TableCatalogueTest, FailedLoginThrowsAndLeavesTheListAlone) {
    db::ConnectionSettings wrong = login();
    wrong.password = u("wrong");
    RecordingSink sink;
    try {
        MSSQL::ListTables(wrong, sink, db::noProgress(), kShortTimeout);
        FAIL() << "listed the tables with a wrong password";
    } catch (const db::OdbcError& e) {
        EXPECT_TRUE(e.message().contains(u("Login failed"))) << e.message().toStdString();
    }
    EXPECT_TRUE(sink.events.empty());
}

// A connection lost while the rows are read keeps the entries added so far and tells the failure.
TEST_F(TableCatalogueTest, ConnectionLostWhileListingKeepsWhatWasListed) {
    server.setCatalog("shop", {{"dbo", "One"}, {"dbo", "Two"}, {"dbo", "Three"}, {"dbo", "Four"}});
    server.dropAfterRows(2);
    RecordingSink sink;
    EXPECT_THROW(MSSQL::ListTables(login(), sink, db::noProgress(), kShortTimeout), db::OdbcError);
    ASSERT_GE(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0], "clear");
    EXPECT_LE(sink.entries.size(), 2u);
}

TEST(ListedTableTest, RuleOnItsOwn) {
    EXPECT_TRUE(db::isListedTable(u("TABLE"), u("Physics")));
    EXPECT_TRUE(db::isListedTable(u("TABLE"), u("Analysis")));
    EXPECT_TRUE(db::isListedTable(u("TABLE"), QString()));
    EXPECT_FALSE(db::isListedTable(u("TABLE"), u("easyshipping")));
    EXPECT_FALSE(db::isListedTable(u("TABLE"), u("SyS")));
    EXPECT_FALSE(db::isListedTable(u("Table"), u("Physics")));
    EXPECT_FALSE(db::isListedTable(u("VIEW"), u("Physics")));
    EXPECT_FALSE(db::isListedTable(QString(), u("Physics")));
}

} // namespace
