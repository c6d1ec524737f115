#include "server_fixture.h"

using odbctest::Cell;
using odbctest::Connection;
using odbctest::OdbcError;
using ::testing::HasSubstr;

namespace {

constexpr SQLSMALLINT kSqlServerTime = -154; // kSqlServerTime of SQL Server's own headers

// The ODBC type and the text are FreeTDS's for the TDS type sent: for example it reports
// decimal as SQL_NUMERIC and the (max) types as their varying types, prints doubles with 17
// digits, binary in lower case, and the year 1 without padding.
struct TypeCase {
    const char* declared; // as written in the SQLite table
    const char* stored;   // SQLite literal inserted
    SQLSMALLINT odbcType; // what SQLDescribeCol reports
    const char* text;     // what the driver hands over as SQL_C_WCHAR
};

void PrintTo(const TypeCase& k, std::ostream* os) {
    *os << k.declared << " holding " << k.stored;
}

// The type name in a test name: "decimal(10,2)" becomes "decimal_10_2_".
std::string caseName(const ::testing::TestParamInfo<TypeCase>& info) {
    std::string out = std::to_string(info.index) + "_";
    for (const char c : std::string(info.param.declared))
        out.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return out;
}

class TypeTest : public ServerTest, public ::testing::WithParamInterface<TypeCase> {};

} // namespace

// Each declared type reaches the client as the SQL Server type of that name, with its value
// and a NULL.
TEST_P(TypeTest, ValueAndNullArriveAsTheDeclaredType) {
    const TypeCase& k = GetParam();
    server.execSql("testdb", std::string("CREATE TABLE t(v ") + k.declared +
                                 "); INSERT INTO t VALUES (" + k.stored + "), (NULL);");
    Connection c(connection());
    const auto r = c.query("SELECT * FROM [t]");
    ASSERT_EQ(r.columns.size(), 1u);
    EXPECT_EQ(r.columns[0].type, k.odbcType);
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.rows[0][0], Cell(k.text));
    EXPECT_EQ(r.rows[1][0], Cell());
}

INSTANTIATE_TEST_SUITE_P(
    Types, TypeTest,
    ::testing::Values(
        TypeCase{"int", "-2147483648", SQL_INTEGER, "-2147483648"},
        TypeCase{"INTEGER", "2147483647", SQL_INTEGER, "2147483647"},
        TypeCase{"bigint", "-9223372036854775808", SQL_BIGINT, "-9223372036854775808"},
        TypeCase{"smallint", "-32768", SQL_SMALLINT, "-32768"},
        TypeCase{"tinyint", "255", SQL_TINYINT, "255"}, TypeCase{"bit", "1", SQL_BIT, "1"},
        TypeCase{"bit", "'false'", SQL_BIT, "0"},
        TypeCase{"decimal(10,2)", "-12345678.905", SQL_NUMERIC, "-12345678.91"},
        TypeCase{"decimal(10,2)", "0.004", SQL_NUMERIC, "0.00"},
        TypeCase{"decimal(38,10)", "CAST('1234567890123456789012345678.0123456789' AS BLOB)",
                 SQL_NUMERIC, "1234567890123456789012345678.0123456789"},
        TypeCase{"numeric(5,0)", "99999", SQL_NUMERIC, "99999"},
        TypeCase{"numeric", "'42'", SQL_NUMERIC, "42"},
        TypeCase{"money", "-1234.5678", SQL_DECIMAL, "-1234.5678"},
        TypeCase{"money", "CAST('922337203685477.5807' AS BLOB)", SQL_DECIMAL,
                 "922337203685477.5807"},
        TypeCase{"smallmoney", "214748.3647", SQL_DECIMAL, "214748.3647"},
        TypeCase{"float", "1.5e300", SQL_DOUBLE, "1.5000000000000001e+300"},
        TypeCase{"real", "0.25", SQL_REAL, "0.25"},
        TypeCase{"date", "'2024-02-29'", SQL_TYPE_DATE, "2024-02-29"},
        TypeCase{"date", "'0001-01-01'", SQL_TYPE_DATE, "1-01-01"},
        TypeCase{"time(3)", "'23:59:58.1234'", kSqlServerTime, "23:59:58.123"},
        TypeCase{"datetime", "'1999-12-31 23:59:59.997'", SQL_TYPE_TIMESTAMP,
                 "1999-12-31 23:59:59.997"},
        TypeCase{"datetime", "'1753-01-01T00:00:00'", SQL_TYPE_TIMESTAMP,
                 "1753-01-01 00:00:00.000"},
        TypeCase{"smalldatetime", "'2079-06-06 23:59'", SQL_TYPE_TIMESTAMP, "2079-06-06 23:59:00"},
        TypeCase{"datetime2", "'9999-12-31 23:59:59.9999999'", SQL_TYPE_TIMESTAMP,
                 "9999-12-31 23:59:59.9999999"},
        TypeCase{"datetime2(0)", "'2024-05-06 07:08:09.4'", SQL_TYPE_TIMESTAMP,
                 "2024-05-06 07:08:09"},
        TypeCase{"uniqueidentifier", "'6F9619FF-8B86-D011-B42D-00C04FC964FF'", SQL_GUID,
                 "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
        TypeCase{"char(5)", "'ab'", SQL_CHAR, "ab   "},
        TypeCase{"varchar(20)", "'café, \"x\" <&>'", SQL_VARCHAR, "café, \"x\" <&>"},
        TypeCase{"nchar(3)", "'日'", SQL_WCHAR, "日  "},
        TypeCase{"nvarchar(20)", "'Zoë 😀'", SQL_WVARCHAR, "Zoë 😀"},
        TypeCase{"[nvarchar(max)]", "'line1' || char(10) || 'line2'", SQL_WVARCHAR, "line1\nline2"},
        TypeCase{"[varchar(max)]", "''", SQL_VARCHAR, ""},
        TypeCase{"varbinary(8)", "X'DEADBEEF'", SQL_VARBINARY, "deadbeef"},
        TypeCase{"binary(3)", "X'01'", SQL_BINARY, "010000"},
        TypeCase{"[varbinary(max)]", "X'00FF'", SQL_VARBINARY, "00ff"},
        TypeCase{"", "'no type at all'", SQL_WVARCHAR, "no type at all"},
        TypeCase{"text", "'sqlite text'", SQL_WVARCHAR, "sqlite text"}),
    caseName);

TEST_F(ServerTest, LongValuesCrossManyPackets) {
    server.execSql("testdb",
                   "CREATE TABLE t(a [nvarchar(max)], b [varchar(max)], c nvarchar(4000));"
                   "INSERT INTO t VALUES (printf('%.100000c', 'x') || 'é',"
                   " printf('%.70000c', 'y'), printf('%.4000c', 'z'));");
    Connection c(connection());
    const auto r = c.query("SELECT * FROM t");
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0], Cell(std::string(100000, 'x') + "é"));
    EXPECT_EQ(r.rows[0][1], Cell(std::string(70000, 'y')));
    EXPECT_EQ(r.rows[0][2], Cell(std::string(4000, 'z')));
}

// A value that its column's type cannot hold is an error at that row, as SQL Server reports a
// failed conversion, and never a wrong value.
TEST_F(ServerTest, ValueThatDoesNotFitItsTypeIsAnErrorAndTheConnectionGoesOn) {
    struct Case {
        const char* declared;
        const char* stored;
        long native;
        const char* message;
    };
    Connection c(connection());
    int n = 0;
    for (const Case& k : {
             Case{"int", "'abc'", 245,
                  "Conversion failed when converting the varchar value 'abc' to data type int."},
             Case{"int", "3.5", 245, "value '3.5' to data type int"},
             Case{"tinyint", "256", 220,
                  "Arithmetic overflow error for data type tinyint, "
                  "value = 256."},
             Case{"smallint", "40000", 220, "Arithmetic overflow error for data type smallint"},
             Case{"decimal(4,2)", "100", 8115,
                  "Arithmetic overflow error converting expression "
                  "to data type decimal."},
             Case{"date", "'2023-02-29'", 241, "Conversion failed when converting date"},
             Case{"datetime", "'1752-12-31'", 242, "out-of-range value"},
             Case{"uniqueidentifier", "'not-a-guid'", 8169, "uniqueidentifier"},
             Case{"varchar(3)", "'abcd'", 8152, "String or binary data would be truncated."},
             Case{"nchar(2)", "'日本語'", 8152, "would be truncated"},
             Case{"float", "'x'", 8114, "Error converting data type varchar to float."},
         }) {
        const std::string table = "bad" + std::to_string(n++);
        server.execSql("testdb", "CREATE TABLE " + table + "(id int, v " + k.declared +
                                     "); INSERT INTO " + table + " VALUES (1, NULL), (2, " +
                                     k.stored + "), (3, NULL);");
        odbctest::Statement s(c);
        s.execute("SELECT * FROM " + table);
        ASSERT_TRUE(s.fetch()) << k.declared;
        EXPECT_EQ(s.get(1), Cell("1"));
        try {
            while (s.fetch()) {
                ADD_FAILURE() << k.declared << " " << k.stored << " gave "
                              << s.get(2).value_or("NULL");
            }
            ADD_FAILURE() << "no error for " << k.declared << " " << k.stored;
        } catch (const OdbcError& e) {
            EXPECT_EQ(e.native(), k.native) << e.what();
            EXPECT_THAT(e.what(), HasSubstr(k.message));
        }
    }
    server.execSql("testdb", "CREATE TABLE fine(v int); INSERT INTO fine VALUES (1);");
    EXPECT_EQ(c.query("SELECT * FROM fine").rows.size(), 1u);
}
