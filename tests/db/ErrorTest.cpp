#include "db/Error.h"

#include "Printers.h"

#include <gtest/gtest.h>

namespace {

TEST(OdbcErrorTest, MessageHoldsEveryRecordWithoutStrayNulsAndNamesAMissingDriver) {
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

    // The driver manager's other answer for a driver it cannot find, as a DSN lookup gives it.
    const db::OdbcError missing(
        u"connect"_s, {{u"IM002\0"_s, 0,
                        u"[unixODBC][Driver Manager]Data source name not found and no default "
                        "driver specified"_s}});
    EXPECT_TRUE(missing.message().startsWith(
        u"connect failed: "_s + QString::fromUtf16(db::kDriverMissing) + u"; [unixODBC]"_s))
        << missing.what();
}

} // namespace
