#include "db/ConnectionString.h"

#include "Printers.h"
#include "db/Error.h"

#include <gtest/gtest.h>

namespace {

using db::ConnectionSettings;
using db::ConnectionStringForm;

struct StringCase {
    const char* label;
    ConnectionSettings settings;
    const char* mixedCase;
    const char* upperCase;
};

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

void PrintTo(const StringCase& c, std::ostream* out) {
    *out << c.label;
}

class ConnectionStringTest : public testing::TestWithParam<StringCase> {};

TEST_P(ConnectionStringTest, BothFormsByteForByte) {
    const StringCase& c = GetParam();
    EXPECT_EQ(db::connectionString(c.settings, ConnectionStringForm::MixedCase), u(c.mixedCase));
    EXPECT_EQ(db::connectionString(c.settings, ConnectionStringForm::UpperCase), u(c.upperCase));
}

INSTANTIATE_TEST_SUITE_P(
    Values, ConnectionStringTest,
    testing::Values(
        StringCase{"AllEmpty",
                   {},
                   "Driver={SQL Server};Server=;Database=;Uid=;Pwd=;",
                   "DRIVER={SQL Server};SERVER=;DATABASE=;UID=;PWD=;"},
        StringCase{"Ordinary",
                   {u("localhost\\SQLEXPRESS"), u("sa"), u("s3cret!"), u("Northwind")},
                   "Driver={SQL Server};Server=localhost\\SQLEXPRESS;Database=Northwind;Uid=sa;"
                   "Pwd=s3cret!;",
                   "DRIVER={SQL Server};SERVER=localhost\\SQLEXPRESS;DATABASE=Northwind;UID=sa;"
                   "PWD=s3cret!;"},
        // Nothing is trimmed, and a "}" or "=" without ";" needs no braces.
        StringCase{"UnbracedOddities",
                   {u(" db1,1433 "), u("us=er"), u("a}b{c"), u("Größe ✓")},
                   "Driver={SQL Server};Server= db1,1433 ;Database=Größe ✓;Uid=us=er;"
                   "Pwd=a}b{c;",
                   "DRIVER={SQL Server};SERVER= db1,1433 ;DATABASE=Größe ✓;UID=us=er;"
                   "PWD=a}b{c;"},
        StringCase{"InjectionAttemptStaysInsideTheValue",
                   {u("srv"), u("sa"), u("x;Trusted_Connection=yes"), u("db")},
                   "Driver={SQL Server};Server=srv;Database=db;Uid=sa;"
                   "Pwd={x;Trusted_Connection=yes};",
                   "DRIVER={SQL Server};SERVER=srv;DATABASE=db;UID=sa;"
                   "PWD={x;Trusted_Connection=yes};"},
        StringCase{"LeadingBraceBraced",
                   {u("{srv"), u("{"), u("{pw}"), u("db")},
                   "Driver={SQL Server};Server={{srv};Database=db;Uid={{};Pwd={{pw}};",
                   "DRIVER={SQL Server};SERVER={{srv};DATABASE=db;UID={{};PWD={{pw}};"},
        StringCase{"SemicolonAndTrailingBrace",
                   {u("a;"), u(";"), u("x;y}"), u(";db;")},
                   "Driver={SQL Server};Server={a;};Database={;db;};Uid={;};Pwd={x;y}};",
                   "DRIVER={SQL Server};SERVER={a;};DATABASE={;db;};UID={;};PWD={x;y}};"}),
    [](const testing::TestParamInfo<StringCase>& param) { return std::string(param.param.label); });

struct UnusableCase {
    const char* label;
    ConnectionSettings settings;
    const char* named;
};

void PrintTo(const UnusableCase& c, std::ostream* out) {
    *out << c.label;
}

class UnusableValueTest : public testing::TestWithParam<UnusableCase> {};

// FreeTDS ends a braced value at the first "};": such a value would reach the server cut short,
// so building the string must fail instead, in both forms.
TEST_P(UnusableValueTest, ValueHoldingBraceSemicolonIsRefusedByName) {
    const UnusableCase& c = GetParam();
    for (auto form : {ConnectionStringForm::MixedCase, ConnectionStringForm::UpperCase}) {
        try {
            (void)db::connectionString(c.settings, form);
            ADD_FAILURE() << "no error for " << c.label;
        } catch (const db::Error& e) {
            EXPECT_EQ(e.message(), QStringLiteral("The %1 contains \"};\", which the ODBC driver "
                                                  "cannot be given.")
                                       .arg(QLatin1String(c.named)));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, UnusableValueTest,
    testing::Values(UnusableCase{"Server", {u("a};b"), u("u"), u("p"), u("d")}, "server name"},
                    UnusableCase{"User", {u("s"), u("};"), u("p"), u("d")}, "user name"},
                    UnusableCase{"Password", {u("s"), u("u"), u("{p};x"), u("d")}, "password"},
                    UnusableCase{"Database", {u("s"), u("u"), u("p"), u("d};")}, "database name"}),
    [](const testing::TestParamInfo<UnusableCase>& param) {
        return std::string(param.param.label);
    });

} // namespace
