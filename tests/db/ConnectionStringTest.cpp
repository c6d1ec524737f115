#include "db/ConnectionString.h"

#include "Printers.h"
#include "db/Error.h"

#include <gtest/gtest.h>

namespace {

using db::ConnectionSettings;
using db::ConnectionStringForm;

// Each form byte for byte; the upper-case one differs only in the spelling of the keys, which
// the expected text gets by a plain replacement (no value below holds a key).
TEST(ConnectionStringTest, BothFormsByteForByte) {
    const std::pair<ConnectionSettings, const char*> cases[] = {
        {{}, "Driver={SQL Server};Server=;Database=;Uid=;Pwd=;"},
        {{u("localhost\\SQLEXPRESS"), u("sa"), u("s3cret!"), u("Northwind")},
         "Driver={SQL Server};Server=localhost\\SQLEXPRESS;Database=Northwind;Uid=sa;Pwd=s3cret!;"},
        // Nothing is trimmed, and a "}" or "=" without ";" needs no braces.
        {{u(" db1,1433 "), u("us=er"), u("a}b{c"), u("Größe ✓")},
         "Driver={SQL Server};Server= db1,1433 ;Database=Größe ✓;Uid=us=er;Pwd=a}b{c;"},
        // An injection attempt stays inside the value.
        {{u("srv"), u("sa"), u("x;Trusted_Connection=yes"), u("db")},
         "Driver={SQL Server};Server=srv;Database=db;Uid=sa;Pwd={x;Trusted_Connection=yes};"},
        {{u("{srv"), u("{"), u("{pw}"), u("db")},
         "Driver={SQL Server};Server={{srv};Database=db;Uid={{};Pwd={{pw}};"},
        {{u("a;"), u(";"), u("x;y}"), u(";db;")},
         "Driver={SQL Server};Server={a;};Database={;db;};Uid={;};Pwd={x;y}};"}};
    for (const auto& [settings, mixedCase] : cases) {
        QString upperCase = u(mixedCase);
        for (const char* key : {"Driver=", "Server=", "Database=", "Uid=", "Pwd="}) {
            upperCase.replace(u(key), u(key).toUpper());
        }
        EXPECT_EQ(db::connectionString(settings, ConnectionStringForm::MixedCase), u(mixedCase));
        EXPECT_EQ(db::connectionString(settings, ConnectionStringForm::UpperCase), upperCase);
    }
}

// FreeTDS ends a braced value at the first "};": such a value would reach the server cut short,
// so building the string must fail instead, in both forms, naming the value.
TEST(UnusableValueTest, ValueHoldingBraceSemicolonIsRefusedByName) {
    const std::pair<ConnectionSettings, const char*> cases[] = {
        {{u("a};b"), u("u"), u("p"), u("d")}, "server name"},
        {{u("s"), u("};"), u("p"), u("d")}, "user name"},
        {{u("s"), u("u"), u("{p};x"), u("d")}, "password"},
        {{u("s"), u("u"), u("p"), u("d};")}, "database name"}};
    for (const auto& [settings, named] : cases) {
        for (auto form : {ConnectionStringForm::MixedCase, ConnectionStringForm::UpperCase}) {
            try {
                (void)db::connectionString(settings, form);
                ADD_FAILURE() << "no error for the " << named;
            } catch (const db::Error& e) {
                EXPECT_EQ(e.message(), QStringLiteral("The %1 contains \"};\", which the ODBC "
                                                      "driver cannot be given.")
                                           .arg(QLatin1String(named)));
            }
        }
    }
}

} // namespace
