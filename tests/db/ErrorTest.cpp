#include "db/Error.h"

#include "Printers.h"
#include "db/Connection.h"

#include <gtest/gtest.h>

namespace {

TEST(OdbcErrorTest, MessageHoldsEveryRecordWithoutStrayNuls) {
    using namespace Qt::StringLiterals;
    const db::OdbcError error(
        u"connect"_s,
        {{u"08001"_s, 0, u"[FreeTDS][SQL Server]Unable to connect to data source"_s},
         {u"01000\0"_s, 20009, QStringLiteral("Unexpected EOF from the server") + QChar(u'\0')}});
    EXPECT_STREQ(error.what(),
                 "connect failed: [FreeTDS][SQL Server]Unable to connect to data source (SQLSTATE "
                 "08001, native error 0); Unexpected EOF from the server (SQLSTATE 01000, native "
                 "error 20009)");
    EXPECT_EQ(error.sqlState(), u"08001"_s);
    EXPECT_EQ(error.nativeError(), 0);
    ASSERT_EQ(error.records().size(), 2u);
    EXPECT_EQ(error.records()[1].sqlState, u"01000"_s);
    EXPECT_EQ(error.records()[1].text, u"Unexpected EOF from the server"_s);
}

// A real failure from the driver manager, no server needed: its record arrives whole.
TEST(OdbcErrorTest, DriverManagerFailureArrivesAsOdbcError) {
    try {
        db::Connection::open(QStringLiteral("Driver={No Such Driver 4711};Server=x;"));
        FAIL() << "connected to a driver that does not exist";
    } catch (const db::OdbcError& e) {
        const QString message = e.message();
        EXPECT_TRUE(
            message.startsWith(QStringLiteral("connect failed: [unixODBC][Driver Manager]")))
            << e.what();
        EXPECT_TRUE(message.contains(QStringLiteral("'No Such Driver 4711'"))) << e.what();
        EXPECT_TRUE(message.endsWith(QStringLiteral("(SQLSTATE 01000, native error 0)")))
            << e.what();
        EXPECT_EQ(e.sqlState(), QStringLiteral("01000"));
    }
}

} // namespace
