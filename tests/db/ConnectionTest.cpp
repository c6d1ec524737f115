#include "db/Connection.h"

#include "Printers.h"
#include "TestServer.h"
#include "db/ConnectionString.h"
#include "db/Error.h"

#include <chrono>
#include <cmath>
#include <cstdio>
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
    std::string utf8 = "head:";
    ASSERT_TRUE(rows.appendUtf8(2, utf8));
    EXPECT_TRUE(utf8 == "head:" + longText.toStdString());
}

// The rows stay readable when the Connection object goes first: the statement keeps its
// connection alive. A column is read once per row.
TEST_F(ConnectionTest, RowsOutliveTheConnectionAndAColumnIsReadOnce) {
    sql("CREATE TABLE T (A NVARCHAR(10), B INT); INSERT INTO T VALUES ('x', 1);"
        "INSERT INTO T VALUES ('y', 2);");
    std::optional<db::ResultSet> rows;
    {
        db::Connection connection = open();
        rows.emplace(connection.query(u("SELECT * FROM [T];")));
    }
    ASSERT_TRUE(rows->next());
    EXPECT_EQ(rows->text(0), u("x"));
    EXPECT_THAT([&] { (void)rows->text(0); },
                throwsWith<db::Error>("column 1 of this row was already read"));
    EXPECT_THAT([&] { (void)rows->text(2); },
                throwsWith<std::out_of_range>("column index out of range"));
    ASSERT_TRUE(rows->next());
    EXPECT_EQ(rows->int64(1), 2);
    EXPECT_FALSE(rows->next());
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

template <typename T, typename F>
std::string shown(const std::optional<T>& value, F text) {
    return value ? text(*value) : "<null>";
}

// Each value read with the getter of its column's kind, as text, "<null>" for NULL.
std::vector<std::string> readRow(db::ResultSet& rows) {
    const auto number = [](auto v) { return std::to_string(v); };
    std::vector<std::string> row;
    for (int c = 0; c < rows.columnCount(); ++c) {
        switch (rows.column(c).kind) {
        case db::ValueKind::Integer:
        case db::ValueKind::Bit:
            row.push_back(shown(rows.int64(c), number));
            break;
        case db::ValueKind::Real:
            row.push_back(shown(rows.real(c), number));
            break;
        case db::ValueKind::Timestamp:
            row.push_back(shown(rows.timestamp(c), [](const auto& v) {
                return std::to_string(v.year) + "-" + std::to_string(v.second) + "." +
                       std::to_string(v.fraction);
            }));
            break;
        case db::ValueKind::Date:
            row.push_back(shown(rows.date(c), [](const QDate& v) {
                return v.toString(Qt::ISODate).toStdString();
            }));
            break;
        case db::ValueKind::Guid:
            row.push_back(
                shown(rows.guid(c), [](const auto& v) { return v.toString().toStdString(); }));
            break;
        case db::ValueKind::Binary:
            row.push_back(shown(rows.bytes(c),
                                [](const QByteArray& v) { return "x" + v.toHex().toStdString(); }));
            break;
        default: {
            std::string text = "'";
            row.push_back(rows.appendUtf8(c, text) ? text : "<null>");
        }
        }
    }
    return row;
}

std::vector<std::vector<std::string>> readAll(db::ResultSet rows) {
    std::vector<std::vector<std::string>> all;
    for (int guard = 0; guard < 100000 && rows.next(); ++guard) {
        all.push_back(readRow(rows));
    }
    return all;
}

// Rows read in blocks give what the row-by-row read gives: NULLs in every column and row, and a
// count of rows that is not a multiple of the block.
TEST_F(ConnectionTest, BlockReadsGiveTheRowByRowValues) {
    sql("CREATE TABLE T (I INT, N NVARCHAR(12), D DECIMAL(10,2), F FLOAT, S DATETIME2(7), "
        "Day DATE, G UNIQUEIDENTIFIER, Raw VARBINARY(6), Flag BIT, Tm TIME(3))");
    std::string insert;
    const int columns = 10;
    const int rowCount = 1000; // whatever the block, several blocks and a partial last one
    for (int r = 0; r < rowCount; ++r) {
        std::vector<std::string> v = {std::to_string(r - 500),
                                      "'n\u00e9" + std::to_string(r) + "'",
                                      "'" + std::to_string(r) + ".25'",
                                      std::to_string(r) + ".5",
                                      "'2024-02-29 13:45:07." + std::to_string(1000000 + r) + "'",
                                      "'2001-01-" + std::to_string(10 + r % 18) + "'",
                                      "'6F9619FF-8B86-D011-B42D-00C04FC9" +
                                          std::to_string(6400 + r) + "'",
                                      "x'00ff" + std::to_string(1000 + r) + "'",
                                      std::to_string(r % 2),
                                      "'13:45:07.123'"};
        // One NULL walking through the columns, and every tenth row all NULL.
        for (int c = 0; c < columns; ++c) {
            if (c == r % columns || r % 10 == 9) {
                v[std::size_t(c)] = "NULL";
            }
        }
        insert += "INSERT INTO T VALUES (";
        for (int c = 0; c < columns; ++c) {
            insert += (c > 0 ? "," : "") + v[std::size_t(c)];
        }
        insert += ");";
    }
    sql(insert);
    db::Connection connection = open();
    db::ResultSet blocks = connection.query(u("SELECT * FROM [T];"), db::ReadMode::Blocks);
    EXPECT_TRUE(blocks.readsInBlocks());
    const auto inBlocks = readAll(std::move(blocks));
    const auto oneByOne = readAll(connection.query(u("SELECT * FROM [T];")));
    ASSERT_EQ(oneByOne.size(), std::size_t(rowCount));
    ASSERT_EQ(inBlocks.size(), std::size_t(rowCount));
    EXPECT_EQ(inBlocks, oneByOne);
    EXPECT_EQ(inBlocks[9], std::vector<std::string>(columns, "<null>"));
    EXPECT_EQ(inBlocks[1][0], "-499");
    EXPECT_EQ(inBlocks[0][1], "'n\u00e90");
    EXPECT_EQ(inBlocks[0][2], "'0.25");
}

// A long column among fixed ones: the whole result is read row by row, and every getter still
// works, once per value; in blocks, a getter of another kind and a second read are refused.
TEST_F(ConnectionTest, LongColumnsKeepTheRowByRowRead) {
    sql("CREATE TABLE T (A INT, Body [nvarchar(max)], B FLOAT);"
        "INSERT INTO T VALUES (1, 'long', 2.5); INSERT INTO T VALUES (NULL, NULL, NULL);"
        "CREATE TABLE Fixed (A INT, B FLOAT); INSERT INTO Fixed VALUES (1, 2.5);");
    db::Connection connection = open();
    {
        // The fixed columns bound beside the long one: each is still read once per row.
        db::ResultSet rows = connection.query(u("SELECT * FROM [T];"), db::ReadMode::Blocks);
        EXPECT_FALSE(rows.readsInBlocks());
        ASSERT_TRUE(rows.next());
        EXPECT_EQ(rows.int64(0), 1);
        EXPECT_THAT([&] { (void)rows.text(0); },
                    throwsWith<db::Error>("column 1 of this row was already read"));
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
    db::ResultSet rows = connection.query(u("SELECT * FROM [Fixed];"), db::ReadMode::Blocks);
    ASSERT_TRUE(rows.readsInBlocks());
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
        std::printf("stall after %d rows: reported after %.2f s, %d rows read\n", int(stallAt),
                    std::chrono::duration<double>(took).count(), rowsRead);
    }
}

TEST_F(ConnectionTest, LoginTimeOutIsKept) {
    server.neverAnswer(true);
    const auto started = Clock::now();
    EXPECT_THAT(
        [&] {
            db::Connection::open(db::connectionString(login(), db::ConnectionStringForm::MixedCase),
                                 std::chrono::seconds(1));
        },
        throwsWith<db::OdbcError>("connect failed: [FreeTDS][SQL Server]Timeout expired"));
    const auto took = Clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(4));
}

} // namespace
