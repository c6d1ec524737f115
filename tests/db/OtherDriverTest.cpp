// What another driver may do that FreeTDS never does, through a real one: SQLite's ODBC driver
// declares a column's size from its declared type but sends whatever the column holds.

#include "Printers.h"
#include "db/Connection.h"
#include "db/Error.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <sqlite3.h>

namespace {

class OtherDriverTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const QByteArray path = dir_.filePath(QStringLiteral("other.sqlite")).toUtf8();
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(path.constData(), &raw), SQLITE_OK);
        const std::unique_ptr<sqlite3, int (*)(sqlite3*)> file(raw, sqlite3_close);
        // Name holds ten characters in a column declared for four. Notes is long (unbound),
        // Born is the earliest date SQL Server's date type holds.
        const char* sql = "CREATE TABLE People (Name VARCHAR(4), Notes TEXT, Born DATE);"
                          "INSERT INTO People VALUES ('Annabelle!', 'n', '0001-01-01');"
                          "INSERT INTO People VALUES ('Bo', 'm', '2024-02-29');"
                          "CREATE TABLE Short (Name VARCHAR(4), N INT);"
                          "INSERT INTO Short VALUES ('Bo', 1);"
                          "INSERT INTO Short VALUES ('Annabelle!', 2);";
        ASSERT_EQ(sqlite3_exec(raw, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        connectionString_ = QStringLiteral("DRIVER={SQLite3};Database=") + QString::fromUtf8(path);
    }

    db::Connection open() { return db::Connection::open(connectionString_); }

private:
    QTemporaryDir dir_;
    QString connectionString_;
};

// A value longer than its column's declared size is read whole where the row came alone (a long
// column beside it), in either mode; its date beside it reads the same in both. SQLite's driver
// says that SQLGetData reads any column, so with the long column first the others are still
// bound, and the long value is read from the driver before them. Without a long column, in
// blocks, such a value is an error.
TEST_F(OtherDriverTest, AValueLongerThanDeclaredIsReadWholeBesideALongColumnAndElseAnError) {
    for (const db::ReadMode mode : {db::ReadMode::RowByRow, db::ReadMode::Blocks}) {
        for (const bool longFirst : {false, true}) {
            db::Connection connection = open();
            db::ResultSet rows =
                connection.query(longFirst ? u("SELECT Notes, Name, Born FROM People")
                                           : u("SELECT Name, Notes, Born FROM People"),
                                 mode);
            const int name = longFirst ? 1 : 0;
            const int notes = 1 - name;
            ASSERT_EQ(rows.column(name).size, 4u); // the driver says four
            ASSERT_TRUE(rows.next());
            if (longFirst) {
                EXPECT_EQ(rows.text(notes), u("n"));
            }
            EXPECT_EQ(rows.text(name), u("Annabelle!"));
            if (!longFirst) {
                EXPECT_EQ(rows.text(notes), u("n"));
            }
            EXPECT_EQ(rows.date(2), QDate(1, 1, 1));
            ASSERT_TRUE(rows.next());
            EXPECT_EQ(rows.text(name), u("Bo"));
            EXPECT_EQ(rows.date(2), QDate(2024, 2, 29));
            EXPECT_FALSE(rows.next());
        }
    }
    // In a block of rows the value cannot be read again: an error, never a value cut short.
    db::Connection connection = open();
    db::ResultSet rows = connection.query(u("SELECT Name, N FROM Short"), db::ReadMode::Blocks);
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.text(0), u("Bo"));
    ASSERT_TRUE(rows.next());
    EXPECT_THAT([&] { (void)rows.text(0); },
                throwsWith<db::Error>("column 1 holds a value longer than its declared size"));
}

} // namespace
