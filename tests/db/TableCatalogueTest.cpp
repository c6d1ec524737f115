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

// Records what the table page would see, in order: "clear", "yield", and each entry.
struct RecordingSink final : db::TableListSink, db::Progress {
    std::vector<std::string> events;
    int added = 0;
    void clear() override { events.push_back("clear"); }
    void serve() override { events.push_back("yield"); }
    void append(const db::TableEntry& entry) override {
        events.push_back("add " + entry.name.toStdString());
        ++added;
    }
};

using TableCatalogueTest = ServerTest;

// Only type "TABLE" exactly, and no "SYS" in the upper-cased name; one yield per row of type
// "TABLE", listed or not, none for other rows. A database without tables gives just the clear.
TEST_F(TableCatalogueTest, FilterByTypeAndName) {
    RecordingSink empty;
    MSSQL::ListTables(login(), empty, empty, kShortTimeout);
    EXPECT_EQ(empty.events, std::vector<std::string>{"clear"});
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

using CatalogueOnBothBackends = OnBothBackends<ServerTest>;

// A real server holds other tables too: only this process's are looked at.
TEST_P(CatalogueOnBothBackends, SeededTablesAreListedWithTheirSchemaAndViewsAreNot) {
    const std::string customers = backend->table("Customers");
    const std::string items = backend->table("Items");
    const std::string recent = backend->table("Recent");
    backend->exec({"CREATE TABLE " + items + " (A INT);", "CREATE TABLE " + customers + " (A INT);",
                   "CREATE VIEW " + recent + " AS SELECT * FROM " + customers + ";"});
    std::vector<db::TableEntry> ours;
    for (const db::TableEntry& entry : MSSQL::ListTables(backend->login(), kShortTimeout)) {
        const std::string name = entry.name.toStdString();
        if (name == customers || name == items || name == recent) {
            ours.push_back(entry);
        }
    }
    const std::vector<db::TableEntry> expected{{u("dbo"), QString::fromStdString(customers)},
                                               {u("dbo"), QString::fromStdString(items)}};
    EXPECT_EQ(ours, expected);
}

// A login that fails leaves the list as it was: clear() is not called.
TEST_P(CatalogueOnBothBackends, FailedLoginThrowsAndLeavesTheListAlone) {
    db::ConnectionSettings wrong = backend->login();
    wrong.password += u("-wrong");
    RecordingSink sink;
    try {
        MSSQL::ListTables(wrong, sink, db::noProgress(), kShortTimeout);
        FAIL() << "listed the tables with a wrong password";
    } catch (const db::OdbcError& e) {
        EXPECT_TRUE(e.message().contains(u("Login failed"))) << e.message().toStdString();
    }
    EXPECT_TRUE(sink.events.empty());
}

TALLOWBY_ON_BOTH_BACKENDS(CatalogueOnBothBackends);

// A connection lost while the rows are read keeps the entries added so far and tells the failure.
TEST_F(TableCatalogueTest, ConnectionLostWhileListingKeepsWhatWasListed) {
    server.setCatalog("shop", {{"dbo", "One"}, {"dbo", "Two"}, {"dbo", "Three"}, {"dbo", "Four"}});
    server.dropAfterRows(2);
    RecordingSink sink;
    EXPECT_THAT([&] { MSSQL::ListTables(login(), sink, db::noProgress(), kShortTimeout); },
                throwsWith<db::OdbcError>("Unexpected EOF from the server"));
    ASSERT_GE(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0], "clear");
    EXPECT_LE(sink.added, 2);
}

} // namespace
