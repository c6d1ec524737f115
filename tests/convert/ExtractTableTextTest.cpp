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
}

// A name is data, never SQL: the attempt reads (and fails to find) a table of that name, and a
// name with a space and a "]" is found as it stands. Empty, the table gives its header alone.
TEST_P(ExtractOnBothBackends, NameCannotInjectSqlAndAnEmptyTableIsItsHeader) {
    const std::string t = backend->table("Keep] Odd");
    backend->exec({"CREATE TABLE " + backend->quoted(t) + " (A INT, B NVARCHAR(5));"});
    EXPECT_EQ(CSVXML::ExtractTableText(backend->login(), dbo(t)), "A,B");
    backend->exec({"INSERT INTO " + backend->quoted(t) + " VALUES (1, NULL);"});
    EXPECT_THAT(
        [&] {
            CSVXML::ExtractTableText(backend->login(), dbo(t + "]; DELETE FROM [" + t + "];--"));
        },
        throwsWith<db::Error>("Invalid object name"));
    EXPECT_EQ(CSVXML::ExtractTableText(backend->login(), dbo(t)), "A,B\r\n1,");
}

TALLOWBY_ON_BOTH_BACKENDS(ExtractOnBothBackends);

// Counts the services; the one numbered `stopAt` throws its number, as a page throws when the
// user ends the program.
struct CountingProgress final : db::Progress {
    explicit CountingProgress(int stop = 0) : stopAt(stop) {}
    void serve() override {
        if (++serves == stopAt) {
            throw serves;
        }
    }
    void step(std::int64_t done) override { steps = done; }
    void end() override { ended = true; }
    int stopAt;
    int serves = 0;
    std::int64_t steps = 0;
    bool ended = false;
};

// A progress that throws (the user ended the program) abandons the extraction cleanly, and the
// next one reads the rows until the driver says they end, serving the progress before each read.
// A connection lost amid the rows is an error with the driver's text, not a shorter table.
TEST_F(ExtractTest, ServesBeforeEveryRowAndAThrowOrALostConnectionAbandonsTheExtraction) {
    sql("CREATE TABLE T (A INT);"
        "INSERT INTO T VALUES (1); INSERT INTO T VALUES (2); INSERT INTO T VALUES (3);");
    CountingProgress stopping(2);
    CSVXML::JoinedString abandoned;
    // The page's own exception comes through as it was thrown.
    EXPECT_THAT([&] { CSVXML::ExtractTableText(login(), dbo("T"), abandoned, stopping); },
                testing::Throws<int>(2));
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

    server.dropAfterRows(2);
    EXPECT_THAT([&] { (void)CSVXML::ExtractTableText(login(), dbo("T"), kShortTimeout); },
                throwsWith<db::Error>("fetching rows failed: [FreeTDS][SQL Server]Unexpected EOF"));
}

// Rows read in blocks give what the row-by-row read gives: several blocks and a partial last one,
// and NULLs in every column and row. A long first column makes the same rows come one by one.
TEST_F(ExtractTest, BlockReadsGiveTheRowByRowValues) {
    const std::string columns =
        "I INT, N NVARCHAR(12), D DECIMAL(10,2), F FLOAT, S DATETIME2(7), "
        "Day DATE, G UNIQUEIDENTIFIER, Raw VARBINARY(6), Flag BIT, Tm TIME(3)";
    sql("CREATE TABLE T (" + columns +
        "); WITH RECURSIVE n(r) AS (SELECT 0 UNION ALL SELECT r + 1 FROM n WHERE r < 999)"
        " INSERT INTO T SELECT r - 500, 'n\u00e9' || r, r || '.25', r + 0.5,"
        " '2024-02-29 13:45:07.' || (1000000 + r), '2001-01-' || (10 + r % 18),"
        " '6F9619FF-8B86-D011-B42D-00C04FC9' || (6400 + r), CAST(r AS BLOB), r % 2,"
        " '13:45:07.123' FROM n;");
    // One NULL walking through the columns, and every tenth row all NULL.
    const char* names[] = {"I", "N", "D", "F", "S", "Day", "G", "Raw", "Flag", "Tm"};
    for (int c = 0; c < 10; ++c) {
        sql("UPDATE T SET " + std::string(names[c]) + " = NULL WHERE (rowid - 1) % 10 IN (" +
            std::to_string(c) + ", 9);");
    }
    sql("CREATE TABLE L (Body [nvarchar(max)], " + columns +
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

// Types that go on their own wire types: datetimeoffset in xs:dateTime form with exactly its
// scale's digits (the driver turns the UTC on the wire back into the value's own time), text
// and ntext as text (text through code page 1252, whose missing characters become '?'), image as
// base64, xml as its text; the empty value of each. Their NULLs: EachTdsVersionGetsItsOwnTypes;
// long values: SmallTextSize.
TEST_F(ExtractTest, TextImageXmlAndDateTimeOffsetHaveTheirForms) {
    sql("CREATE TABLE T (O datetimeoffset(3), O0 datetimeoffset(0), O7 datetimeoffset,"
        " X text, N ntext, I image, M xml);"
        "INSERT INTO T VALUES ('2024-03-01 00:30:00.5 +01:00', '0001-01-01 00:00:00 -14:00',"
        " '9999-12-31 23:59:59.9999999 +14:00', 'café € ĉ', '😀 ñ ĉ', x'0001ff',"
        " '<a b=\"1\">é &amp; 😀</a>');"
        "INSERT INTO T VALUES ('2024-02-29 13:45:07.1239 -05:30', '2024-02-29 13:45:07',"
        " '2024-02-29 13:45:07', '', '', x'', '');");
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("T")),
              "O,O0,O7,X,N,I,M\r\n"
              "2024-03-01T00:30:00.500+01:00,0001-01-01T00:00:00-14:00,"
              "9999-12-31T23:59:59.9999999+14:00,café € ?,😀 ñ ĉ,AAH/,"
              "\"<a b=\"\"1\"\">é &amp; 😀</a>\"\r\n"
              "2024-02-29T13:45:07.124-05:30,2024-02-29T13:45:07+00:00,"
              "2024-02-29T13:45:07.0000000+00:00,,,,");
}

// A sql_variant value is its base type's value: an integer, real, text or blob as SQLite stores
// it, or any other type through CAST(... AS type), in any order in a column. Each takes the form
// of a column of its base type: binary as base64, float and real in their shortest text, a
// string as it is even where it looks like a date; NULL stays NULL. A value long enough to
// come from the driver in pieces comes whole.
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
        "INSERT INTO V VALUES (x'', 'CAST(''7'' AS smallint)');"
        "INSERT INTO V VALUES (zeroblob(6000), '" +
        std::string(3900, 'x') + "');");
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
              ",7\r\n" +
                  std::string(8000, 'A') + "," + std::string(3900, 'x'));
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
        EXPECT_THAT([&] { CSVXML::ExtractTableText(login(), dbo(table)); },
                    throwsWith<db::Error>(message));
    }
}

// A client of each TDS version from 7.1 to 7.4 is answered in its own version, with the types
// SQL Server sends such a client: the date and time types as text below 7.3, and the (max) types
// and xml as text, ntext and image in 7.1.
TEST_F(ExtractTest, EachTdsVersionGetsItsOwnTypes) {
    sql("CREATE TABLE T (D date, Tm time(3), D2 datetime2(2), O datetimeoffset(1),"
        " N [nvarchar(max)], V [varchar(max)], B [varbinary(max)], X xml, Tx text, Nt ntext,"
        " Im image, I int);"
        "INSERT INTO T VALUES ('2024-02-29', '13:45:07.123', '2024-02-29 13:45:07.125',"
        " '2024-02-29 13:45:07.1 +01:00', '😀', 'é', x'00ff', '<a/>', 'é', '😀', x'00ff', 7);"
        "INSERT INTO T VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
        " NULL);");
    const std::string asText = "2024-02-29,13:45:07.123,2024-02-29 13:45:07.13,"
                               "2024-02-29 13:45:07.1 +01:00,";
    const std::string modern = "2024-02-29,13:45:07.123,2024-02-29T13:45:07.13,"
                               "2024-02-29T13:45:07.1+01:00,";
    const std::string texts = "nvarchar,nvarchar,nvarchar,nvarchar,";
    const std::string dates = "date,time,datetime2,datetimeoffset,";
    const std::string plp = "nvarchar,varchar,varbinary,xml,text,ntext,image,int,";
    // The version the other tests use comes back however this one ends.
    struct Restore {
        std::string saved = std::getenv("TDSVER") ? std::getenv("TDSVER") : "7.4";
        ~Restore() { ::setenv("TDSVER", saved.c_str(), 1); }
    } restore;
    for (const auto& [version, values, types] :
         {std::tuple{"7.1", asText, texts + "ntext,text,image,ntext,text,ntext,image,int,"},
          {"7.2", asText, texts + plp},
          {"7.3", modern, dates + plp},
          {"7.4", modern, dates + plp}}) {
        SCOPED_TRACE(version);
        ::setenv("TDSVER", version, 1);
        EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("T")),
                  "D,Tm,D2,O,N,V,B,X,Tx,Nt,Im,I\r\n" + values +
                      "😀,é,AP8=,<a/>,é,😀,AP8=,7\r\n,,,,,,,,,,,");
        // The driver describes each column as the type the server sent.
        db::Connection connection = db::Connection::open(
            db::connectionString(login(), db::ConnectionStringForm::UpperCase));
        db::ResultSet rows = connection.query(u("SELECT * FROM [T];"));
        std::string names;
        for (const db::Column& column : rows.columns())
            names += column.typeName.toStdString() + ",";
        EXPECT_EQ(names, types);
    }
}

// A server whose sessions start with a small text size (a configured default) cuts every long
// value but xml to it without a word: the extraction's connection asks for the largest, so each
// kind of long value comes whole. A server that keeps its small size whatever the client sets is
// refused instead, before any value is read.
class SmallTextSize : public ServerTest {
protected:
    SmallTextSize() : ServerTest({.textSize = 4096, .log = {}}) {}
};

TEST_F(SmallTextSize, LongValuesOfEachKindComeWholeOrTheServerIsRefused) {
    sql("CREATE TABLE L (N [nvarchar(max)], V [varchar(max)], B [varbinary(max)], T text,"
        " NT ntext, I image, X xml);"
        "INSERT INTO L SELECT n, v, b, v, n, b, '<a>' || v || '</a>' FROM"
        " (SELECT replace(printf('%0100000d', 0), '0', 'é') AS n,"
        " replace(printf('%0100000d', 0), '0', 'v') AS v, zeroblob(100000) AS b);");
    // Where the session keeps a small size, the server cuts: 100 bytes are 50 UTF-16 units, and
    // a binary value comes as hex, two digits a byte.
    db::Connection connection =
        db::Connection::open(db::connectionString(login(), db::ConnectionStringForm::UpperCase));
    connection.query(u("SET TEXTSIZE 100"));
    db::ResultSet rows = connection.query(u("SELECT * FROM [L];"));
    ASSERT_TRUE(rows.next());
    const std::vector<qsizetype> cut = {50, 100, 200, 100, 50, 200, 100007};
    for (int c = 0; c < 7; ++c)
        EXPECT_EQ(rows.text(c)->size(), cut[std::size_t(c)]) << "column " << c;
    rows.close();

    // The program's own read sets the largest size first.
    std::string national;
    for (int i = 0; i < 100000; ++i)
        national += "é";
    const std::string v(100000, 'v');
    const std::string base64 = QByteArray(100000, '\0').toBase64().toStdString();
    EXPECT_TRUE(CSVXML::ExtractTableText(login(), dbo("L")) ==
                "N,V,B,T,NT,I,X\r\n" + national + "," + v + "," + base64 + "," + v + "," +
                    national + "," + base64 + ",<a>" + v + "</a>");

    server.holdTextSize(true);
    EXPECT_THAT([&] { (void)CSVXML::ExtractTableText(login(), dbo("L")); },
                throwsWith<db::Error>("holds this session to a text size of 4096 bytes"));
}

} // namespace
