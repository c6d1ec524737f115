// The table extraction through the real FreeTDS driver to the project's test server, and on
// through the conversion to XML that a strict parser reads back.
#include "convert/ExtractTableText.h"

#include "TestServer.h"
#include "convert/ConvertTextToXml.h"
#include "db/Error.h"

#include <QXmlStreamReader>
#include <string>
#include <vector>

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

db::TableEntry dbo(const char* name) {
    return {u("dbo"), u(name)};
}

// The values of each row element, read back by a strict parser.
std::vector<std::vector<std::string>> parseRows(const std::string& xml) {
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    std::vector<std::vector<std::string>> rows;
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (depth == 2) {
                rows.emplace_back();
            } else if (depth == 3) {
                rows.back().push_back(reader.readElementText().toStdString());
                --depth;
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString() << "\n" << xml;
    return rows;
}

using ExtractTest = ServerTest;

TEST(TableQuery, NamesAreBracketedWithClosingBracketsDoubled) {
    EXPECT_EQ(CSVXML::tableQuery({u("dbo"), u("Orders")}), u("SELECT * FROM [dbo].[Orders];"));
    EXPECT_EQ(CSVXML::tableQuery({QString(), u("Orders")}), u("SELECT * FROM [Orders];"));
    EXPECT_EQ(CSVXML::tableQuery({u("a]b"), u("x]; DROP TABLE y; --")}),
              u("SELECT * FROM [a]]b].[x]]; DROP TABLE y; --];"));
}

// Locale-independent forms that XML readers expect, one per type; the same with a long column
// among them, which makes the other columns come one row at a time.
TEST_F(ExtractTest, EachTypeHasItsTextForm) {
    const std::string columns =
        "I INT, B BIGINT, S SMALLINT, N NVARCHAR(20), D DECIMAL(12,2), "
        "M MONEY, F FLOAT, R REAL, Flag BIT, Day DATE, Stamp DATETIME, Fine DATETIME2(3), "
        "Small SMALLDATETIME, G UNIQUEIDENTIFIER, Raw VARBINARY(8), Tm TIME(3)";
    const std::string first = "-2147483648, 9223372036854775807, 7, 'plain', '-1234.5', "
                              "'12.34', 0.1, 0.1, 1, '2024-02-29', '2024-02-29 13:45:07.997', "
                              "'1999-12-31 23:59:59.123', '2001-01-01 10:20:00', "
                              "'6F9619FF-8B86-D011-B42D-00C04FC964FF', x'00ff10', '13:45:07.123'";
    const std::string second = "0, -1, 0, '', '0.5', '0', 1e20, 2.5, 0, '0001-01-01', "
                               "'1753-01-01 00:00:00', '9999-12-31 23:59:59.999', "
                               "'1900-01-01 00:00:00', '00000000-0000-0000-0000-000000000000', "
                               "x'', '00:00:00'";
    sql("CREATE TABLE T (" + columns + "); INSERT INTO T VALUES (" + first +
        "); INSERT INTO T VALUES (" + second + ");" + "CREATE TABLE L (Body [NVARCHAR(MAX)], " +
        columns + "); INSERT INTO L VALUES ('" + std::string(5000, 'x') + "', " + first +
        "); INSERT INTO L VALUES (NULL, " + second + ");");
    const std::string names = "I,B,S,N,D,M,F,R,Flag,Day,Stamp,Fine,Small,G,Raw,Tm";
    const std::string values1 =
        "-2147483648,9223372036854775807,7,plain,-1234.50,12.3400,0.1,0.1,1,"
        "2024-02-29,2024-02-29T13:45:07.997,1999-12-31T23:59:59.123,"
        "2001-01-01T10:20:00,6F9619FF-8B86-D011-B42D-00C04FC964FF,AP8Q,13:45:07.123";
    const std::string values2 =
        "0,-1,0,,0.50,0.0000,1e+20,2.5,0,0001-01-01,1753-01-01T00:00:00.000,"
        "9999-12-31T23:59:59.999,1900-01-01T00:00:00,"
        "00000000-0000-0000-0000-000000000000,,00:00:00.000";
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("T")),
              names + "\r\n" + values1 + "\r\n" + values2);
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("L")), "Body," + names + "\r\n" +
                                                               std::string(5000, 'x') + "," +
                                                               values1 + "\r\n," + values2);
}

// A NULL is the empty text wherever it stands: first, between two values, last, alone.
TEST_F(ExtractTest, NullsInEveryPosition) {
    sql("CREATE TABLE T (A INT, B NVARCHAR(5), C DATETIME);"
        "INSERT INTO T VALUES (1, NULL, '2020-01-02 03:04:05');"
        "INSERT INTO T VALUES (NULL, 'x', NULL);"
        "INSERT INTO T VALUES (NULL, NULL, NULL);"
        "INSERT INTO T VALUES (2, '', NULL);");
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("T")),
              "A,B,C\r\n1,,2020-01-02T03:04:05.000\r\n,x,\r\n,,\r\n2,,");
}

TEST_F(ExtractTest, EmptyTableGivesTheHeaderAloneAndTheRootTags) {
    sql("CREATE TABLE Empty (A INT, B NVARCHAR(5));");
    const std::string text = CSVXML::ExtractTableText(login(), dbo("Empty"));
    EXPECT_EQ(text, "A,B");
    CSVXML::StringSink xml;
    CSVXML::ConvertTextToXml(text, CSVXML::ConversionOptions{}, xml);
    EXPECT_EQ(xml.text, "<XML>\r\n</XML>");
}

// Values that would split or shift a row come through whole, and the XML reads back the same.
TEST_F(ExtractTest, AwkwardValuesArriveUnshiftedAndParseable) {
    const std::vector<std::string> values = {
        "a,b",   "say \"hi\"",   "two\r\nlines",  "lone\rcr", "lone\nlf",
        "<tag>", "fish & chips", "Zürich 東京 😀", " spaced ", "\"",
    };
    std::string statements = "CREATE TABLE T (Id INT, V NVARCHAR(50), Tail INT);";
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::string quoted;
        for (char c : values[i]) {
            quoted += c;
            if (c == '\'') {
                quoted += '\'';
            }
        }
        statements += "INSERT INTO T VALUES (" + std::to_string(i) + ", '" + quoted + "', 9);";
    }
    sql(statements);
    const std::string text = CSVXML::ExtractTableText(login(), dbo("T"));
    EXPECT_NE(text.find("\"a,b\""), std::string::npos);
    EXPECT_NE(text.find("\"say \"\"hi\"\"\""), std::string::npos);
    EXPECT_NE(text.find(",<tag>,"), std::string::npos); // needs no quotes

    CSVXML::StringSink xml;
    CSVXML::ConvertTextToXml(text, CSVXML::ConversionOptions{}, xml);
    const auto rows = parseRows(xml.text);
    ASSERT_EQ(rows.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(rows[i].size(), 3u);
        EXPECT_EQ(rows[i][0], std::to_string(i));
        EXPECT_EQ(rows[i][1], values[i]);
        EXPECT_EQ(rows[i][2], "9");
    }
}

TEST_F(ExtractTest, ColumnNamesThatNeedQuotesStayOneName) {
    sql("CREATE TABLE T ([a,b] INT, [c\"d] INT, e INT); INSERT INTO T VALUES (1, 2, 3);");
    const std::string text = CSVXML::ExtractTableText(login(), dbo("T"));
    EXPECT_EQ(text, "\"a,b\",\"c\"\"d\",e\r\n1,2,3");
    CSVXML::StringSink xml;
    CSVXML::ConvertTextToXml(text, CSVXML::ConversionOptions{}, xml);
    const auto rows = parseRows(xml.text);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(ExtractTest, NamesWithSpacesAndClosingBrackets) {
    sql("CREATE TABLE [Order Lines] (A INT); INSERT INTO [Order Lines] VALUES (1);"
        "CREATE TABLE \"odd]name\" (A INT); INSERT INTO \"odd]name\" VALUES (2);");
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("Order Lines")), "A\r\n1");
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("odd]name")), "A\r\n2");
    const auto batches = server.batches();
    ASSERT_FALSE(batches.empty());
    EXPECT_EQ(batches.back(), "SELECT * FROM [dbo].[odd]]name];");
}

// A name is data, never SQL: the attempt reads (and fails to find) a table of that name.
TEST_F(ExtractTest, NameCannotInjectSql) {
    sql("CREATE TABLE Keep (A INT); INSERT INTO Keep VALUES (1);");
    EXPECT_THROW(CSVXML::ExtractTableText(login(), dbo("Keep]; DELETE FROM [Keep];--")), db::Error);
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("Keep")), "A\r\n1");
}

TEST_F(ExtractTest, SameNameInTwoSchemasEachExportsItsOwnRows) {
    sql("CREATE TABLE Items (A INT); INSERT INTO Items VALUES (1);");
    sql("CREATE TABLE Items (A INT); INSERT INTO Items VALUES (2);", "sales");
    EXPECT_EQ(CSVXML::ExtractTableText(login(), {u("dbo"), u("Items")}), "A\r\n1");
    EXPECT_EQ(CSVXML::ExtractTableText(login(), {u("sales"), u("Items")}), "A\r\n2");
}

// Counts the services; the one numbered `stopAt` throws, as a page does when the user ends
// the program.
struct CountingProgress final : db::Progress {
    explicit CountingProgress(int stop = 0) : stopAt(stop) {}
    void serve() override {
        if (++serves == stopAt) {
            throw Stop{};
        }
    }
    void step(std::int64_t done) override { steps = done; }
    void end() override { ended = true; }
    struct Stop {};
    int stopAt;
    int serves = 0;
    std::int64_t steps = 0;
    bool ended = false;
};

// The rows are read until the driver says they end, and the progress is served before each read.
TEST_F(ExtractTest, ServesBeforeEveryRowAndQueriesOnce) {
    sql("CREATE TABLE T (A INT);"
        "INSERT INTO T VALUES (1); INSERT INTO T VALUES (2); INSERT INTO T VALUES (3);");
    server.clearRecords();
    CountingProgress progress;
    CSVXML::JoinedString joined;
    CSVXML::ExtractTableText(login(), dbo("T"), joined, progress);
    EXPECT_EQ(joined.text, "A\r\n1\r\n2\r\n3");
    EXPECT_EQ(progress.serves,
              4); // before each of the three rows, and before learning there is no fourth
    EXPECT_EQ(progress.steps, 3);
    EXPECT_TRUE(progress.ended);
    EXPECT_EQ(server.batches().size(), 1u);
}

// A progress that throws (the user ended the program) abandons the extraction cleanly.
TEST_F(ExtractTest, ThrowingProgressAbandonsTheExtraction) {
    sql("CREATE TABLE T (A INT); INSERT INTO T VALUES (1); INSERT INTO T VALUES (2);");
    CountingProgress progress(2);
    CSVXML::JoinedString joined;
    EXPECT_THROW(CSVXML::ExtractTableText(login(), dbo("T"), joined, progress),
                 CountingProgress::Stop);
    EXPECT_FALSE(progress.ended);
    EXPECT_EQ(CSVXML::ExtractTableText(login(), dbo("T")), "A\r\n1\r\n2"); // server still fine
}

TEST_F(ExtractTest, FailuresCarryTheDriversTextAndGiveNoText) {
    sql("CREATE TABLE T (A INT);"
        "INSERT INTO T VALUES (1); INSERT INTO T VALUES (2); INSERT INTO T VALUES (3);"
        "INSERT INTO T VALUES (4); INSERT INTO T VALUES (5);");
    {
        SCOPED_TRACE("missing table");
        try {
            CSVXML::ExtractTableText(login(), dbo("Nowhere"));
            FAIL() << "no error";
        } catch (const db::Error& e) {
            EXPECT_NE(std::string(e.what()).find("Nowhere"), std::string::npos) << e.what();
        }
    }
    {
        SCOPED_TRACE("login refused");
        db::ConnectionSettings wrong = login();
        wrong.password = u("nope");
        EXPECT_THROW(CSVXML::ExtractTableText(wrong, dbo("T"), kShortTimeout), db::Error);
    }
    {
        SCOPED_TRACE("connection dropped mid-table");
        server.dropAfterRows(2);
        std::string text = "untouched";
        EXPECT_THROW(text = CSVXML::ExtractTableText(login(), dbo("T"), kShortTimeout), db::Error);
        EXPECT_EQ(text, "untouched");
    }
}

} // namespace
