// The table extraction through the real FreeTDS driver to the project's test server (and a real
// one when named). Values read back through XML by a strict parser: RoundTripTest.
#include "convert/ExtractTableText.h"

#include "TestServer.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/Error.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

db::TableEntry dbo(const std::string& name) {
    return {u("dbo"), QString::fromStdString(name)};
}

using ExtractTest = ServerTest;

TEST(TableQuery, NamesAreBracketedWithClosingBracketsDoubled) {
    EXPECT_EQ(CSVXML::tableQuery({u("dbo"), u("Orders")}), u("SELECT * FROM [dbo].[Orders];"));
    EXPECT_EQ(CSVXML::tableQuery({QString(), u("Orders")}), u("SELECT * FROM [Orders];"));
    EXPECT_EQ(CSVXML::tableQuery({u("a]b"), u("x]; DROP TABLE y; --")}),
              u("SELECT * FROM [a]]b].[x]]; DROP TABLE y; --];"));
    EXPECT_EQ(CSVXML::tableQuery({u("dbo"), u("V")}, {u("A"), u("b]'); --")}),
              u("SELECT SQL_VARIANT_PROPERTY([A], 'BaseType'), "
                "SQL_VARIANT_PROPERTY([b]]'); --], 'BaseType'), * FROM [dbo].[V];"));
}

// The cases below run on a real server too; those after them need the test server's schemas,
// records or faults.
using ExtractOnBothBackends = OnBothBackends<ServerTest>;

// Locale-independent forms that XML readers expect, one per type; the same with a long column
// among them, which makes the other columns come one row at a time.
TEST_P(ExtractOnBothBackends, EachTypeHasItsTextForm) {
    const std::string columns =
        "I INT, B BIGINT, S SMALLINT, N NVARCHAR(20), D DECIMAL(12,2), "
        "M MONEY, F FLOAT, R REAL, Flag BIT, Day DATE, Stamp DATETIME, Fine DATETIME2(3), "
        "Small SMALLDATETIME, G UNIQUEIDENTIFIER, Raw VARBINARY(8), Tm TIME(3)";
    const std::string first = "-2147483648, 9223372036854775807, 7, 'plain', '-1234.5', "
                              "'12.34', 0.1, 0.1, 1, '2024-02-29', '2024-02-29 13:45:07.997', "
                              "'1999-12-31 23:59:59.123', '2001-01-01 10:20:00', "
                              "'6F9619FF-8B86-D011-B42D-00C04FC964FF', " +
                              backend->bytes("00ff10") + ", '13:45:07.123'";
    const std::string second = "0, -1, 0, '', '0.5', '0', 1e20, 2.5, 0, '0001-01-01', "
                               "'1753-01-01 00:00:00', '9999-12-31 23:59:59.999', "
                               "'1900-01-01 00:00:00', '00000000-0000-0000-0000-000000000000', " +
                               backend->bytes("") + ", '00:00:00'";
    const std::string t = backend->table("Types");
    const std::string l = backend->table("Long");
    backend->exec(
        {"CREATE TABLE " + t + " (" + columns + ");",
         "INSERT INTO " + t + " VALUES (" + first + ");",
         "INSERT INTO " + t + " VALUES (" + second + ");",
         "CREATE TABLE " + l + " (Body " + backend->longText() + ", " + columns + ");",
         "INSERT INTO " + l + " VALUES ('" + std::string(5000, 'x') + "', " + first + ");",
         "INSERT INTO " + l + " VALUES (NULL, " + second + ");"});
    const std::string names = "I,B,S,N,D,M,F,R,Flag,Day,Stamp,Fine,Small,G,Raw,Tm";
    const std::string values1 =
        "-2147483648,9223372036854775807,7,plain,-1234.50,12.3400,0.1,0.1,1,"
        "2024-02-29,2024-02-29T13:45:07.997,1999-12-31T23:59:59.123,"
        "2001-01-01T10:20:00,6F9619FF-8B86-D011-B42D-00C04FC964FF,AP8Q,13:45:07.123";
    const std::string values2 =
        "0,-1,0,,0.50,0.0000,1e+20,2.5,0,0001-01-01,1753-01-01T00:00:00.000,"
        "9999-12-31T23:59:59.999,1900-01-01T00:00:00,"
        "00000000-0000-0000-0000-000000000000,,00:00:00.000";
    EXPECT_EQ(CSVXML::ExtractTableText(backend->login(), dbo(t)),
              names + "\r\n" + values1 + "\r\n" + values2);
    const std::string longText =
        "Body," + names + "\r\n" + std::string(5000, 'x') + "," + values1 + "\r\n," + values2;
    // FreeTDS's SQLGetData reads only the columns after the last bound one (it claims no
    // SQL_GD_ANY_COLUMN), so there the long first column leaves every value, dates too, to
    // SQLGetData.
    EXPECT_EQ(CSVXML::ExtractTableText(backend->login(), dbo(l)), longText);
}

// A lone surrogate has no UTF-8 form: it becomes U+FFFD, and the extraction counts it and says
// where the first one was, in a short column and in a long one alike.
TEST_P(ExtractOnBothBackends, LoneSurrogatesAreCountedWithTheFirstPlace) {
    const std::string t = backend->table("Halves");
    backend->exec(
        {"CREATE TABLE " + t + " (Id INT, Short NVARCHAR(10), Body " + backend->longText() + ");",
         "INSERT INTO " + t + " VALUES (1, 'ok', 'ok');",
         "INSERT INTO " + t + " VALUES (2, 'ok', " + backend->loneSurrogate() + ");",
         "INSERT INTO " + t + " VALUES (3, " + backend->loneSurrogate() + ", " +
             backend->loneSurrogate() + ");"});
    CSVXML::JoinedString text;
    const CSVXML::ExtractResult result = CSVXML::ExtractTableText(backend->login(), dbo(t), text);
    EXPECT_EQ(text.text, "Id,Short,Body\r\n1,ok,ok\r\n2,ok,a\uFFFDb\r\n3,a\uFFFDb,a\uFFFDb");
    EXPECT_EQ(result.loneSurrogates, 3);
    EXPECT_EQ(result.firstRow, 2);
    EXPECT_EQ(result.firstColumn, "Body");
    EXPECT_EQ(CSVXML::loneSurrogatesMessage(result).toStdString(),
              "3 lone UTF-16 surrogates (halves of a character without their other half) were "
              "written as U+FFFD; the first is at row 2, column 'Body'");
}

TEST_P(ExtractOnBothBackends, EmptyTableGivesTheHeaderAlone) {
    const std::string t = backend->table("Empty");
    backend->exec({"CREATE TABLE " + t + " (A INT, B NVARCHAR(5));"});
    EXPECT_EQ(CSVXML::ExtractTableText(backend->login(), dbo(t)), "A,B");
}

// A name is data, never SQL: the attempt reads (and fails to find) a table of that name, and a
// name with a space and a "]" is found as it stands.
TEST_P(ExtractOnBothBackends, NameCannotInjectSql) {
    const std::string t = backend->table("Keep] Odd");
    backend->exec({"CREATE TABLE " + backend->quoted(t) + " (A INT);",
                   "INSERT INTO " + backend->quoted(t) + " VALUES (1);"});
    EXPECT_THAT(
        [&] {
            CSVXML::ExtractTableText(backend->login(), dbo(t + "]; DELETE FROM [" + t + "];--"));
        },
        throwsWith<db::Error>("Invalid object name"));
    EXPECT_EQ(CSVXML::ExtractTableText(backend->login(), dbo(t)), "A\r\n1");
}

TALLOWBY_ON_BOTH_BACKENDS(ExtractOnBothBackends);

// Counts the services; the one numbered `stopAt` throws, as a page does when the user ends
// the program.
struct CountingProgress final : db::Progress {
    explicit CountingProgress(int stop = 0) : stopAt(stop) {}
    void serve() override {
        if (++serves == stopAt) {
            throw Stop{serves};
        }
    }
    void step(std::int64_t done) override { steps = done; }
    void end() override { ended = true; }
    struct Stop {
        int at;
    };
    int stopAt;
    int serves = 0;
    std::int64_t steps = 0;
    bool ended = false;
};

// A progress that throws (the user ended the program) abandons the extraction cleanly, and the
// next one reads the rows until the driver says they end, serving the progress before each read.
TEST_F(ExtractTest, ServesBeforeEveryRowAndAThrowAbandonsTheExtraction) {
    sql("CREATE TABLE T (A INT);"
        "INSERT INTO T VALUES (1); INSERT INTO T VALUES (2); INSERT INTO T VALUES (3);");
    CountingProgress stopping(2);
    CSVXML::JoinedString abandoned;
    // The page's own exception comes through as it was thrown.
    EXPECT_THAT(
        [&] { CSVXML::ExtractTableText(login(), dbo("T"), abandoned, stopping); },
        testing::Throws<CountingProgress::Stop>(testing::Field(&CountingProgress::Stop::at, 2)));
    EXPECT_FALSE(stopping.ended);

    server.clearRecords();
    CountingProgress progress;
    CSVXML::JoinedString joined;
    CSVXML::ExtractTableText(login(), dbo("T"), joined, progress);
    EXPECT_EQ(joined.text, "A\r\n1\r\n2\r\n3");
    // before each of the three rows, and before learning there is no fourth
    EXPECT_EQ(progress.serves, 4);
    EXPECT_EQ(progress.steps, 3);
    EXPECT_TRUE(progress.ended);
    // The connection's text size, then the one query.
    EXPECT_EQ(server.batches(),
              (std::vector<std::string>{"SET TEXTSIZE 2147483647; SELECT @@TEXTSIZE",
                                        "SELECT * FROM [dbo].[T];"}));
}

// Rows read in blocks give what the row-by-row read gives: several blocks and a partial last one,
// and NULLs in every column and row. A long first column makes the same rows come one by one.
TEST_F(ExtractTest, BlockReadsGiveTheRowByRowValues) {
    const std::string columns =
        "I INT, N NVARCHAR(12), D DECIMAL(10,2), F FLOAT, S DATETIME2(7), "
        "Day DATE, G UNIQUEIDENTIFIER, Raw VARBINARY(6), Flag BIT, Tm TIME(3)";
    std::string insert = "CREATE TABLE T (" + columns + ");";
    const std::size_t count = 10;
    for (int r = 0; r < 1000; ++r) {
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
        insert += "INSERT INTO T VALUES (";
        for (std::size_t c = 0; c < count; ++c) {
            const bool null = c == std::size_t(r) % count || r % 10 == 9;
            insert += (c > 0 ? "," : "") + (null ? "NULL" : v[c]);
        }
        insert += ");";
    }
    sql(insert + "CREATE TABLE L (Body [nvarchar(max)], " + columns +
        "); INSERT INTO L SELECT NULL, * FROM T;");
    const std::string inBlocks = CSVXML::ExtractTableText(login(), dbo("T"));
    EXPECT_EQ(std::count(inBlocks.begin(), inBlocks.end(), '\n'), 1000);
    // The same lines with the long column's empty value before each row's values.
    std::string expected = "Body," + inBlocks;
    for (auto at = expected.find("\r\n"); at != std::string::npos;
         at = expected.find("\r\n", at + 3)) {
        expected.insert(at + 2, ",");
    }
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("L")), expected);
    EXPECT_NE(inBlocks.find("\r\n,n\u00e90,0.25,"), std::string::npos); // row 1
    EXPECT_NE(inBlocks.find("\r\n-499,,1.25,"), std::string::npos);     // row 2
    EXPECT_NE(inBlocks.find("\r\n,,,,,,,,,\r\n"), std::string::npos);   // row 10
}

TEST_F(ExtractTest, ConnectionLostMidTableGivesTheDriversTextAndNoText) {
    sql("CREATE TABLE T (A INT);"
        "INSERT INTO T VALUES (1); INSERT INTO T VALUES (2); INSERT INTO T VALUES (3);"
        "INSERT INTO T VALUES (4); INSERT INTO T VALUES (5);");
    server.dropAfterRows(2);
    std::string text = "untouched";
    EXPECT_THAT([&] { text = CSVXML::ExtractTableText(login(), dbo("T"), kShortTimeout); },
                throwsWith<db::Error>("fetching rows failed: [FreeTDS][SQL Server]Unexpected EOF"));
    EXPECT_EQ(text, "untouched");
}

// Types that go on their own wire types: datetimeoffset in xs:dateTime form with exactly its
// scale's digits (the driver turns the UTC on the wire back into the value's own time), text
// and ntext as text (text through code page 1252, whose missing characters become '?'), image as
// base64, xml as its text; NULL in each, and long values whole.
TEST_F(ExtractTest, TextImageXmlAndDateTimeOffsetHaveTheirForms) {
    sql("CREATE TABLE T (O datetimeoffset(3), O0 datetimeoffset(0), O7 datetimeoffset,"
        " X text, N ntext, I image, M xml);"
        "INSERT INTO T VALUES ('2024-03-01 00:30:00.5 +01:00', '0001-01-01 00:00:00 -14:00',"
        " '9999-12-31 23:59:59.9999999 +14:00', 'café € ĉ', '😀 ñ ĉ', x'0001ff',"
        " '<a b=\"1\">é &amp; 😀</a>');"
        "INSERT INTO T VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL);"
        "INSERT INTO T VALUES ('2024-02-29 13:45:07.1239 -05:30', '2024-02-29 13:45:07',"
        " '2024-02-29 13:45:07', '', '', x'', '');"
        "INSERT INTO T VALUES (NULL, NULL, NULL, replace(printf('%0100000d', 0), '0', 'v'),"
        " replace(printf('%0100000d', 0), '0', 'é'), zeroblob(100000),"
        " '<a>' || replace(printf('%099993d', 0), '0', 'x') || '</a>');");
    std::string longNational;
    for (int i = 0; i < 100000; ++i)
        longNational += "é";
    const std::string expected =
        "O,O0,O7,X,N,I,M\r\n"
        "2024-03-01T00:30:00.500+01:00,0001-01-01T00:00:00-14:00,"
        "9999-12-31T23:59:59.9999999+14:00,café € ?,😀 ñ ĉ,AAH/,\"<a b=\"\"1\"\">é &amp; 😀</a>\"\r\n"
        ",,,,,,\r\n"
        "2024-02-29T13:45:07.124-05:30,2024-02-29T13:45:07+00:00,"
        "2024-02-29T13:45:07.0000000+00:00,,,,\r\n"
        ",,," +
        std::string(100000, 'v') + "," + longNational + "," +
        QByteArray(100000, '\0').toBase64().toStdString() + ",<a>" + std::string(99993, 'x') +
        "</a>";
    const std::string text = CSVXML::ExtractTableText(login(), dbo("T"));
    EXPECT_TRUE(text == expected) << text.substr(0, 400);

    // The driver describes each column as its own type.
    db::Connection connection =
        db::Connection::open(db::connectionString(login(), db::ConnectionStringForm::UpperCase));
    db::ResultSet rows = connection.query(u("SELECT * FROM [T];"));
    std::vector<QString> types;
    for (const db::Column& column : rows.columns())
        types.push_back(column.typeName);
    EXPECT_EQ(types,
              (std::vector<QString>{u("datetimeoffset"), u("datetimeoffset"), u("datetimeoffset"),
                                    u("text"), u("ntext"), u("image"), u("xml")}));
}

// A sql_variant value is its base type's value: an integer, real, text or blob as SQLite stores
// it, or any other type through CAST(... AS type), in any order in a column. Each takes the form
// of a column of its base type: binary as base64, float and real in their shortest text, a
// string as it is even where it looks like a date; NULL stays NULL.
TEST_F(ExtractTest, VariantValuesKeepTheirBaseTypes) {
    sql("CREATE TABLE V (A sql_variant, B sql_variant);"
        "INSERT INTO V VALUES ('a, \"b\" 😀', 'CAST(''café'' AS varchar(10))');"
        "INSERT INTO V VALUES (42, 'CAST(''2024-02-29 13:45:07.997'' AS datetime)');"
        "INSERT INTO V VALUES (-9223372036854775808, "
        " 'CAST(''2024-02-29 13:45:07.1234567 -05:00'' AS datetimeoffset(7))');"
        "INSERT INTO V VALUES ('CAST(''-12.5'' AS decimal(10,2))', 'CAST(''2024-01-02'' AS date)');"
        "INSERT INTO V VALUES ('CAST(1 AS bit)', 'CAST(''13:45:07.5'' AS time(2))');"
        "INSERT INTO V VALUES ('CAST(''6F9619FF-8B86-D011-B42D-00C04FC964FF'' AS "
        "uniqueidentifier)', 'CAST(''2024-02-29 13:45:07'' AS datetime2(0))');"
        "INSERT INTO V VALUES (NULL, NULL);"
        "INSERT INTO V VALUES ('CAST(''12.5'' AS money)', 'CAST(0x00FF AS varbinary(4))');"
        "INSERT INTO V VALUES (0.1, 'CAST(''0.1'' AS real)');"
        "INSERT INTO V VALUES (x'00ff10', 'CAST(0x0102 AS binary(3))');"
        "INSERT INTO V VALUES ('2024-01-02 10:00:00', 'CAST(''00ff'' AS varchar(4))');"
        "INSERT INTO V VALUES (1e20, 'CAST(''-3.5e-7'' AS float)');"
        "INSERT INTO V VALUES (x'', 'CAST(''7'' AS smallint)');");
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("V")),
              "A,B\r\n"
              "\"a, \"\"b\"\" 😀\",café\r\n"
              "42,2024-02-29T13:45:07.997\r\n"
              "-9223372036854775808,2024-02-29T13:45:07.1234567-05:00\r\n"
              "-12.50,2024-01-02\r\n"
              "1,13:45:07.50\r\n"
              "6F9619FF-8B86-D011-B42D-00C04FC964FF,2024-02-29T13:45:07\r\n"
              ",\r\n"
              "12.5000,AP8=\r\n"
              "0.1,0.1\r\n"
              "AP8Q,AQIA\r\n"
              "2024-01-02 10:00:00,00ff\r\n"
              "1e+20,-3.5e-07\r\n"
              ",7");
}

// A variant long enough to come from the driver in pieces comes whole; the columns around it,
// which are then read one row at a time, keep their own forms.
TEST_F(ExtractTest, LongVariantValuesComeWhole) {
    sql("CREATE TABLE W (I int, V sql_variant, F float);"
        "INSERT INTO W VALUES (1, zeroblob(6000), 0.1);"
        "INSERT INTO W VALUES (2, '" +
        std::string(3900, 'x') + "', 0.2);");
    const std::string expected =
        "I,V,F\r\n1," + std::string(8000, 'A') + ",0.1\r\n2," + std::string(3900, 'x') + ",0.2";
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("W")), expected);
}

// A table of variants larger than the server sends at once: the statement that found the variant
// column is let go while rows are still coming, and the second reads every row.
TEST_F(ExtractTest, ManyVariantRowsComeAfterTheFirstStatementIsLetGo) {
    sql("CREATE TABLE M (V sql_variant, S nvarchar(100), B sql_variant);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
        "INSERT INTO M SELECT i * 0.5, printf('%0100d', i), CAST(i AS BLOB) FROM n;");
    const std::string text = CSVXML::ExtractTableText(login(), dbo("M"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 20000);
    EXPECT_NE(text.find("\r\n0.5," + std::string(99, '0') + "1,MQ==\r\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\n10000," + std::string(95, '0') + "20000,MjAwMDA="));
}

// Values SQL Server cannot hold are refused as it refuses them, not sent as bit patterns: an
// infinite float, and a sql_variant of a type no variant holds.
TEST_F(ExtractTest, ValuesNoSqlServerHoldsAreRefused) {
    sql("CREATE TABLE F (X float); INSERT INTO F VALUES (9e999);"
        "CREATE TABLE R (X real); INSERT INTO R VALUES (-9e999);"
        "CREATE TABLE V (X sql_variant); INSERT INTO V VALUES ('CAST(''a'' AS varchar(max))');");
    for (const auto& [table, message] :
         {std::pair{"F", "Arithmetic overflow error converting expression to data type float."},
          std::pair{"R", "Arithmetic overflow error converting expression to data type real."},
          std::pair{"V", "Operand type clash: varchar is incompatible with sql_variant"}}) {
        const std::string name = table;
        EXPECT_THAT([&] { CSVXML::ExtractTableText(login(), dbo(name)); },
                    throwsWith<db::Error>(message));
    }
}

// A client of each TDS version from 7.1 to 7.4 is answered in its own version: the tokens it
// reads (a failed batch, then a result), the date and time types as text below 7.3, and the
// (max) types and xml as text, ntext and image in 7.1, as SQL Server answers such a client.
TEST_F(ExtractTest, EachTdsVersionGetsItsOwnTypes) {
    sql("CREATE TABLE T (D date, Tm time(3), D2 datetime2(2), O datetimeoffset(1),"
        " N [nvarchar(max)], V [varchar(max)], B [varbinary(max)], X xml, I int);"
        "INSERT INTO T VALUES ('2024-02-29', '13:45:07.123', '2024-02-29 13:45:07.125',"
        " '2024-02-29 13:45:07.1 +01:00', '😀', 'é', x'00ff', '<a/>', 7);"
        "INSERT INTO T VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);");
    struct Version {
        const char* tdsver;
        std::uint32_t login;
        std::string values;
        std::vector<QString> types;
    };
    const std::string modern = "2024-02-29,13:45:07.123,2024-02-29T13:45:07.13,"
                               "2024-02-29T13:45:07.1+01:00,😀,é,AP8=,<a/>,7";
    const std::string asText = "2024-02-29,13:45:07.123,2024-02-29 13:45:07.13,"
                               "2024-02-29 13:45:07.1 +01:00,😀,é,AP8=,<a/>,7";
    const std::vector<QString> dates = {u("date"), u("time"), u("datetime2"), u("datetimeoffset")};
    const std::vector<QString> texts(4, u("nvarchar"));
    const auto with = [](std::vector<QString> first, std::vector<QString> rest) {
        first.insert(first.end(), rest.begin(), rest.end());
        return first;
    };
    const std::vector<Version> versions = {
        {"7.1", 0x71, asText,
         with(texts, {u("ntext"), u("text"), u("image"), u("ntext"), u("int")})},
        {"7.2", 0x72, asText,
         with(texts, {u("nvarchar"), u("varchar"), u("varbinary"), u("xml"), u("int")})},
        {"7.3", 0x73, modern,
         with(dates, {u("nvarchar"), u("varchar"), u("varbinary"), u("xml"), u("int")})},
        {"7.4", 0x74, modern,
         with(dates, {u("nvarchar"), u("varchar"), u("varbinary"), u("xml"), u("int")})},
    };
    // The version the other tests use comes back however this one ends.
    struct Restore {
        std::string saved = std::getenv("TDSVER") ? std::getenv("TDSVER") : "7.4";
        ~Restore() { ::setenv("TDSVER", saved.c_str(), 1); }
    } restore;
    for (const Version& v : versions) {
        SCOPED_TRACE(v.tdsver);
        ::setenv("TDSVER", v.tdsver, 1);
        server.clearRecords();
        EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("T")),
                  "D,Tm,D2,O,N,V,B,X,I\r\n" + v.values + "\r\n,,,,,,,,");
        const auto logins = server.logins();
        ASSERT_FALSE(logins.empty());
        EXPECT_EQ(logins.back().tdsVersion >> 24, v.login);

        db::Connection connection = db::Connection::open(
            db::connectionString(login(), db::ConnectionStringForm::UpperCase));
        // An error with its line number, then a result on the same connection.
        EXPECT_THAT([&] { connection.query(u("SET NOCOUNT ON\n\nSELECT FROM")); },
                    throwsWith<db::Error>("Incorrect syntax"));
        db::ResultSet rows = connection.query(u("SELECT * FROM [T];"));
        std::vector<QString> types;
        for (const db::Column& column : rows.columns())
            types.push_back(column.typeName);
        EXPECT_EQ(types, v.types);
        int count = 0;
        while (rows.next())
            ++count;
        EXPECT_EQ(count, 2);
    }
}

// A server whose sessions start with a small text size (a configured default) cuts every long
// value to it without a word: the extraction's connection asks for the largest, so each kind of
// long value comes whole.
class SmallTextSize : public ServerTest {
protected:
    SmallTextSize() : ServerTest({.textSize = 4096, .log = {}}) {}
};

TEST_F(SmallTextSize, LongValuesOfEachKindComeWhole) {
    sql("CREATE TABLE L (N [nvarchar(max)], V [varchar(max)], B [varbinary(max)]);"
        "INSERT INTO L VALUES (replace(printf('%0100000d', 0), '0', 'é'),"
        " replace(printf('%0100000d', 0), '0', 'v'), zeroblob(100000));");
    std::string expected = "N,V,B\r\n";
    for (int i = 0; i < 100000; ++i)
        expected += "é";
    expected +=
        "," + std::string(100000, 'v') + "," + QByteArray(100000, '\0').toBase64().toStdString();
    EXPECT_TRUE(CSVXML::ExtractTableText(login(), dbo("L")) == expected);

    // Where the session keeps a small size, the server cuts: 100 bytes are 50 UTF-16 units.
    db::Connection connection =
        db::Connection::open(db::connectionString(login(), db::ConnectionStringForm::UpperCase));
    connection.query(u("SET TEXTSIZE 100"));
    db::ResultSet rows = connection.query(u("SELECT * FROM [L];"));
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.text(0)->size(), 50);
    EXPECT_EQ(rows.text(1)->size(), 100);
    EXPECT_EQ(rows.bytes(2)->size(), 100);
    rows.close();

    // text, ntext and image are cut alike; xml never is.
    sql("CREATE TABLE O (T text, N ntext, I image, X xml);"
        "INSERT INTO O SELECT V, N, B, '<a>' || V || '</a>' FROM L;");
    db::ResultSet other = connection.query(u("SELECT * FROM [O];"));
    ASSERT_TRUE(other.next());
    EXPECT_EQ(other.text(0)->size(), 100);
    EXPECT_EQ(other.text(1)->size(), 50);
    EXPECT_EQ(other.bytes(2)->size(), 100);
    EXPECT_EQ(other.text(3)->size(), 100007);
    other.close();
    // The program's own read sets the largest size first: each comes whole.
    const std::string whole = CSVXML::ExtractTableText(login(), dbo("O"));
    EXPECT_EQ(whole.size(), std::string("T,N,I,X\r\n").size() + 100000 + 1 + 200000 + 1 +
                                QByteArray(100000, '\0').toBase64().size() + 1 + 100007);
}

// A server that keeps its session's small text size whatever the client sets would cut long
// values short without a word: the connection is refused instead, before any value is read.
TEST_F(SmallTextSize, ServerThatHoldsItsTextSizeIsAnErrorNotShortValues) {
    sql("CREATE TABLE L (V [varchar(max)]); INSERT INTO L VALUES (printf('%05000d', 7));");
    server.holdTextSize(true);
    EXPECT_THAT([&] { (void)CSVXML::ExtractTableText(login(), dbo("L")); },
                throwsWith<db::Error>("holds this session to a text size of 4096 bytes"));
    server.holdTextSize(false);
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("L")), "V\r\n" + std::string(4999, '0') + "7");
}

} // namespace
