#include "db/Connection.h"

#include "Printers.h"
#include "TestServer.h"
#include "db/ConnectionString.h"
#include "db/Error.h"

#include <chrono>
#include <cmath>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class ConnectionTest : public ServerTest {
protected:
    db::Connection open() {
        return db::Connection::open(
            db::connectionString(login(), db::ConnectionStringForm::UpperCase), kShortTimeout);
    }
};

TEST_F(ConnectionTest, ColumnsAreDescribedWithNameTypeAndScale) {
    sql("CREATE TABLE Prices (Id INT, Label NVARCHAR(40), Amount DECIMAL(10,2), "
        "Ratio FLOAT, Stamp DATETIME, Born DATE, Tag UNIQUEIDENTIFIER, Blob VARBINARY(8), "
        "Note VARCHAR, Flag BIT, Big BIGINT, Fine DATETIME2(7))");
    db::Connection connection = open();
    db::ResultSet rows = connection.query(u("SELECT * FROM [Prices];"));
    ASSERT_EQ(rows.columnCount(), 12);
    struct Expected {
        const char* name;
        const char* typeName;
        db::ValueKind kind;
        int digits;
    };
    const Expected expected[] = {
        {"Id", "int", db::ValueKind::Integer, 0},
        {"Label", "nvarchar", db::ValueKind::Text, 0},
        {"Amount", "decimal", db::ValueKind::Decimal, 2},
        {"Ratio", "float", db::ValueKind::Real, 0},
        {"Stamp", "datetime", db::ValueKind::Timestamp, 3},
        {"Born", "date", db::ValueKind::Date, 0},
        {"Tag", "uniqueidentifier", db::ValueKind::Guid, 0},
        {"Blob", "varbinary", db::ValueKind::Binary, 0},
        {"Note", "varchar", db::ValueKind::Text, 0},
        {"Flag", "bit", db::ValueKind::Bit, 0},
        {"Big", "bigint", db::ValueKind::Integer, 0},
        {"Fine", "datetime2", db::ValueKind::Timestamp, 7},
    };
    for (int i = 0; i < rows.columnCount(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(rows.column(i).name, u(expected[i].name));
        EXPECT_EQ(rows.column(i).typeName, u(expected[i].typeName));
        EXPECT_EQ(rows.column(i).kind, expected[i].kind);
        EXPECT_EQ(rows.column(i).decimalDigits, expected[i].digits);
    }
    EXPECT_EQ(rows.column(1).size, 40u);
    EXPECT_EQ(rows.columnIndex(u("Amount")), 2);
    EXPECT_EQ(rows.columnIndex(u("amount")), -1);
    EXPECT_FALSE(rows.next());
}

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
    EXPECT_EQ(appended.size(), 5 + longText.size());
    EXPECT_TRUE(appended == u("head:") + longText);
    EXPECT_TRUE(rows.bytes(1) == longBytes);
    std::string utf8 = "head:";
    ASSERT_TRUE(rows.appendUtf8(2, utf8));
    EXPECT_TRUE(utf8 == "head:" + longText.toStdString());
}

TEST_F(ConnectionTest, ReadingAColumnTwiceIsAnError) {
    sql("CREATE TABLE T (A NVARCHAR(10), B INT); INSERT INTO T VALUES ('x', 1);");
    db::Connection connection = open();
    db::ResultSet rows = connection.query(u("SELECT * FROM [T];"));
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.text(0), u("x"));
    try {
        (void)rows.text(0);
        ADD_FAILURE() << "second read of a column gave a value";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.message(), u("column 1 of this row was already read"));
    }
    EXPECT_THROW((void)rows.text(2), std::out_of_range);
}

// The rows stay readable when the Connection object goes first: the statement keeps its
// connection alive.
TEST_F(ConnectionTest, RowsOutliveTheConnectionObject) {
    sql("CREATE TABLE T (A INT); INSERT INTO T VALUES (1); INSERT INTO T VALUES (2);");
    std::optional<db::ResultSet> rows;
    {
        db::Connection connection = open();
        rows.emplace(connection.query(u("SELECT * FROM [T];")));
    }
    ASSERT_TRUE(rows->next());
    EXPECT_EQ(rows->int64(0), 1);
    ASSERT_TRUE(rows->next());
    EXPECT_EQ(rows->int64(0), 2);
    EXPECT_FALSE(rows->next());
}

TEST_F(ConnectionTest, RefusedQueryCarriesTheServersMessage) {
    db::Connection connection = open();
    try {
        connection.query(u("SELECT * FROM [Missing];"));
        FAIL() << "query on a missing table succeeded";
    } catch (const db::OdbcError& e) {
        EXPECT_EQ(e.sqlState(), u("42S02"));
        EXPECT_EQ(e.nativeError(), 208);
        EXPECT_TRUE(e.message().startsWith(u("running the query failed: ")));
        EXPECT_TRUE(e.message().contains(u("Invalid object name 'Missing'")))
            << e.message().toStdString();
    }
}

TEST_F(ConnectionTest, LoginTimeOutIsKept) {
    server.neverAnswer(true);
    const auto started = Clock::now();
    EXPECT_THROW(
        db::Connection::open(db::connectionString(login(), db::ConnectionStringForm::MixedCase),
                             std::chrono::seconds(1)),
        db::OdbcError);
    const auto took = Clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(4));
}

} // namespace
