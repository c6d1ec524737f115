#include "db/Connection.h"

#include "Printers.h"
#include "TestServer.h"
#include "db/ConnectionString.h"
#include "db/Error.h"

#include <chrono>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class ConnectionTest : public ServerTest {
protected:
    db::Connection open() {
        return db::Connection::open(
            db::connectionString(backend->login(), db::ConnectionStringForm::UpperCase),
            kShortTimeout);
    }
};

// Long values come in several reads; the pieces must join without a character lost or doubled,
// also where a piece ends inside a surrogate pair.
TEST_F(ConnectionTest, LongValuesAreReadWhole) {
    QString longText;
    for (int i = 0; i < 7000; ++i) {
        longText += u("a\xC3\xA9\xF0\x9F\x98\x80"); // a, é, and one character beyond 16 bits
    }
    QByteArray longBytes;
    for (int i = 0; i < 50000; ++i) {
        longBytes += char(i * 7);
    }
    sql("CREATE TABLE Docs (Body NVARCHAR, Raw VARBINARY, Tail NVARCHAR);"
        "INSERT INTO Docs VALUES ('" +
        longText.toStdString() + "', x'" + longBytes.toHex().toStdString() + "', '" +
        longText.toStdString() + "');");
    db::Connection connection = open();
    db::ResultSet rows = connection.query(u("SELECT * FROM [Docs];"));
    ASSERT_TRUE(rows.next());
    QString appended = u("head:");
    ASSERT_TRUE(rows.appendText(0, appended));
    EXPECT_TRUE(appended == u("head:") + longText);
    EXPECT_TRUE(rows.bytes(1) == longBytes);
    const std::optional<std::u16string_view> tail = rows.wideText(2);
    ASSERT_TRUE(tail);
    EXPECT_TRUE(QStringView(tail->data(), qsizetype(tail->size())) == longText);
}

using ConnectionOnBothBackends = OnBothBackends<ConnectionTest>;

TEST_P(ConnectionOnBothBackends, RefusedQueryCarriesTheServersMessage) {
    db::Connection connection = open();
    const std::string missing = backend->table("Missing");
    try {
        connection.query(QString::fromStdString("SELECT * FROM [" + missing + "];"));
        FAIL() << "query on a missing table succeeded";
    } catch (const db::OdbcError& e) {
        EXPECT_EQ(e.sqlState(), u("42S02"));
        EXPECT_EQ(e.nativeError(), 208);
        EXPECT_TRUE(e.message().startsWith(u("running the query failed: ")));
        EXPECT_TRUE(
            e.message().contains(QString::fromStdString("Invalid object name '" + missing + "'")))
            << e.message().toStdString();
    }
}

TALLOWBY_ON_BOTH_BACKENDS(ConnectionOnBothBackends);

// A long column among fixed ones: the whole result is read row by row, and every getter still
// works, once per value; in blocks, a getter of another kind and a second read are refused. The
// rows stay readable when the Connection object goes first: the statement keeps it alive.
TEST_F(ConnectionTest, LongColumnsKeepTheRowByRowReadAndRowsOutliveTheConnection) {
    sql("CREATE TABLE T (A INT, Body [nvarchar(max)], B FLOAT);"
        "INSERT INTO T VALUES (1, 'long', 2.5); INSERT INTO T VALUES (NULL, NULL, NULL);"
        "CREATE TABLE Fixed (A INT, B FLOAT); INSERT INTO Fixed VALUES (1, 2.5);");
    {
        // The fixed columns bound beside the long one: each is still read once per row.
        db::ResultSet rows = open().query(u("SELECT * FROM [T];"), db::ReadMode::Blocks);
        ASSERT_TRUE(rows.next());
        EXPECT_EQ(rows.int64(0), 1);
        EXPECT_THAT([&] { (void)rows.text(0); },
                    throwsWith<db::Error>("column 1 of this row was already read"));
        EXPECT_THAT([&] { (void)rows.text(3); },
                    throwsWith<std::out_of_range>("column index out of range"));
        EXPECT_EQ(rows.text(1), u("long"));
        EXPECT_EQ(rows.text(2), u("2.5"));
        EXPECT_THAT([&] { (void)rows.real(2); },
                    throwsWith<db::Error>("column 3 of this row was already read"));
        ASSERT_TRUE(rows.next());
        EXPECT_EQ(rows.int64(0), std::nullopt);
        EXPECT_EQ(rows.text(1), std::nullopt);
        EXPECT_EQ(rows.real(2), std::nullopt);
        EXPECT_FALSE(rows.next());
    }
    db::Connection connection = open();
    db::ResultSet rows = connection.query(u("SELECT * FROM [Fixed];"), db::ReadMode::Blocks);
    ASSERT_TRUE(rows.next());
    EXPECT_THAT([&] { (void)rows.text(0); },
                throwsWith<db::Error>("column 1 is read in blocks by the getter of its kind"));
    EXPECT_EQ(rows.int64(0), 1);
    EXPECT_THAT([&] { (void)rows.int64(0); },
                throwsWith<db::Error>("column 1 of this row was already read"));
    EXPECT_EQ(rows.real(1), 2.5);
}

// A server that goes silent, before the first row or amid the rows, is reported once the driver's
// wait, its cancel and the wait for the cancel's answer have run out: about twice the limit.
TEST_F(ConnectionTest, SilentServerIsReportedAfterTheQueryTimeOut) {
    std::string insert = "CREATE TABLE T (A INT, B NVARCHAR(100));";
    for (int r = 0; r < 3000; ++r) {
        insert +=
            "INSERT INTO T VALUES (" + std::to_string(r) + ", '" + std::string(90, 'x') + "');";
    }
    sql(insert);
    for (const std::int64_t stallAt : {std::int64_t(0), std::int64_t(2000)}) {
        SCOPED_TRACE(stallAt);
        server.stallAfterRows(stallAt);
        db::Connection connection =
            db::Connection::open(db::connectionString(login(), db::ConnectionStringForm::UpperCase),
                                 kShortTimeout, std::chrono::seconds(2));
        const auto started = Clock::now();
        int rowsRead = 0;
        try {
            db::ResultSet rows = connection.query(u("SELECT * FROM [T];"), db::ReadMode::Blocks);
            while (rowsRead < 5000 && rows.next()) {
                ++rowsRead;
            }
            ADD_FAILURE() << "the silent server went unnoticed";
        } catch (const db::OdbcError& e) {
            EXPECT_TRUE(e.message().startsWith(u("The server sent nothing for 2 s; ")))
                << e.message().toStdString();
            EXPECT_EQ(e.sqlState(), u("HYT00"));
        }
        const auto took = Clock::now() - started;
        EXPECT_GE(took, std::chrono::milliseconds(1900));
        EXPECT_LT(took, std::chrono::seconds(8));
        EXPECT_LE(rowsRead, stallAt);
    }
}

} // namespace
