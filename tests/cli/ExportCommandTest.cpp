// `extract` and `export` against the test server: what they write, which table they read, and
// how they keep an existing file when they must not or cannot replace it.
#include "DatabaseCommandsTest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

class ExportCommandTest : public DatabaseCommandsTest {
protected:
    void seed() override {
        notes = backend->table("Notes");
        const std::string insert = "INSERT INTO " + notes + " VALUES ";
        backend->exec(
            {"CREATE TABLE " + notes + " (Id INT, Body NVARCHAR(40), Seen DATETIME);",
             insert + "(1, " + backend->text("a,b \"q\"") + ", '2024-01-02 03:04:05');",
             insert + "(2, " + backend->text("line\nfeed") + ", NULL);",
             insert + "(NULL, " + backend->text("<&> \xC3\xA9") + ", '2024-12-31 23:59:59');"});
    }

    QStringList args(const char* command) const { return args(command, notes); }
    QStringList args(const char* command, const std::string& table) const {
        return loginArgs(command) << QStringLiteral("--table") << QString::fromStdString(table);
    }

    QString file(const char* name) const { return work.filePath(u(name)); }
    QStringList forcedExport(const QString& out) const { return forcedExport(out, notes); }
    QStringList forcedExport(const QString& out, const std::string& table) const {
        return args("export", table) << QStringLiteral("-o") << out << QStringLiteral("--force");
    }

    QTemporaryDir work;
    std::string notes;
};

// The cases that need no fault, schema or record of the test server run on a real one too.
using ExportOnBothBackends = OnBothBackends<ExportCommandTest>;

const QByteArray kNotesText = "Id,Body,Seen\r\n"
                              "1,\"a,b \"\"q\"\"\",2024-01-02T03:04:05.000\r\n"
                              "2,\"line\nfeed\",\r\n"
                              ",<&> \xC3\xA9,2024-12-31T23:59:59.000";

// `export` streams, yet writes exactly what converting the whole extracted text writes.
TEST_P(ExportOnBothBackends, ExportEqualsConvertingTheExtractedText) {
    const QStringList variants[] = {
        {},
        {QStringLiteral("--no-row-tags"), QStringLiteral("--xml-tag=Notes")},
        {QStringLiteral("--row-tag"), QStringLiteral("note")},
    };
    for (const QStringList& options : variants) {
        SCOPED_TRACE(options.join(QLatin1Char(' ')).toStdString());
        const CliResult exported = runCli(args("export") << options, {}, environment());
        ASSERT_EQ(exported.exitCode, 0) << exported.err.constData();
        const CliResult converted = runCli(QStringList{QStringLiteral("convert")} << options,
                                           kNotesText, environment(nullptr));
        ASSERT_EQ(converted.exitCode, 0) << converted.err.constData();
        EXPECT_EQ(exported.out, converted.out);
        EXPECT_FALSE(readValues(exported.out, false).empty()); // a strict reader takes it
    }
}

// Only export, which reads the table itself, can tell a NULL from an empty text.
TEST_P(ExportOnBothBackends, NullFormsReadBackAsTheyAreMeant) {
    const std::string gaps = backend->table("Gaps");
    const std::string insert = "INSERT INTO " + gaps + " VALUES ";
    backend->exec({"CREATE TABLE " + gaps + " (A INT, B NVARCHAR(10), C INT);",
                   insert + "(NULL, 'x', 1);", insert + "(2, NULL, 3);", insert + "(4, '', NULL);",
                   insert + "(NULL, NULL, NULL);", insert + "(5, '<y>', 6);"});
    const auto exportAs = [&](const char* form) {
        QStringList a = args("export", gaps);
        if (form != nullptr) {
            a << QStringLiteral("--nulls") << u(form);
        }
        const CliResult r = runCli(a, {}, environment());
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        return r.out;
    };
    using Rows = std::vector<std::vector<std::string>>;
    const QByteArray plain = exportAs(nullptr);
    EXPECT_EQ(exportAs("empty"), plain);
    EXPECT_EQ(readValues(plain, false), (Rows{{"A=", "B=x", "C=1"},
                                              {"A=2", "B=", "C=3"},
                                              {"A=4", "B=", "C="},
                                              {"A=", "B=", "C="},
                                              {"A=5", "B=<y>", "C=6"}}));
    EXPECT_EQ(readValues(exportAs("omit"), false),
              (Rows{{"B=x", "C=1"}, {"A=2", "C=3"}, {"A=4", "B="}, {}, {"A=5", "B=<y>", "C=6"}}));
    EXPECT_EQ(readValues(exportAs("nil"), true), (Rows{{"A nil", "B=x", "C=1"},
                                                       {"A=2", "B nil", "C=3"},
                                                       {"A=4", "B=", "C nil"},
                                                       {"A nil", "B nil", "C nil"},
                                                       {"A=5", "B=<y>", "C=6"}}));

    // Without row tags the values stand straight under the root.
    const CliResult bare = runCli(args("export", gaps) << QStringLiteral("--nulls=omit")
                                                       << QStringLiteral("--no-row-tags"),
                                  {}, environment());
    EXPECT_TRUE(bare.out.startsWith("<XML>\r\n <B>x</B>\r\n <C>1</C>\r\n <A>2</A>\r\n"))
        << bare.out.constData();
}

// The types with wire types of their own, exported and read back by a strict XML reader: each
// value as the SQLite source holds it (xml and text escaped like any text), long ones whole.
TEST_F(ExportCommandTest, OwnWireTypesReadBackAsTheSourceHoldsThem) {
    server.execSql(
        "shop",
        "CREATE TABLE W (O datetimeoffset(2), X xml, I image, T text, N ntext, V sql_variant);"
        "INSERT INTO W VALUES ('2024-02-29 13:45:07.5 -05:00', '<a b=\"1\">&amp; é</a>',"
        " x'0001ff', 'café <&>', '😀 ĉ', 'CAST(''2024-02-29 13:45:07.997'' AS datetime)');"
        "INSERT INTO W VALUES (NULL, NULL, NULL, NULL, NULL, NULL);"
        "INSERT INTO W VALUES ('0001-01-01 00:00:00 +00:00',"
        " '<x>' || replace(printf('%0100000d', 0), '0', 'y') || '</x>', zeroblob(100000),"
        " replace(printf('%0100000d', 0), '0', 't'), replace(printf('%0100000d', 0), '0', 'ĉ'),"
        " 42);");
    const CliResult r =
        runCli(args("export", "W") << QStringLiteral("--nulls=nil"), {}, environment());
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    std::string national;
    for (int i = 0; i < 100000; ++i)
        national += "ĉ";
    using Rows = std::vector<std::vector<std::string>>;
    EXPECT_TRUE(
        readValues(r.out, true) ==
        (Rows{{"O=2024-02-29T13:45:07.50-05:00", "X=<a b=\"1\">&amp; é</a>", "I=AAH/", "T=café <&>",
               "N=😀 ĉ", "V=2024-02-29T13:45:07.997"},
              {"O nil", "X nil", "I nil", "T nil", "N nil", "V nil"},
              {"O=0001-01-01T00:00:00.00+00:00", "X=<x>" + std::string(100000, 'y') + "</x>",
               "I=" + QByteArray(100000, '\0').toBase64().toStdString(),
               "T=" + std::string(100000, 't'), "N=" + national, "V=42"}}));
}

// A table named on the command line is the user's choice: the first user table of that name,
// also one the table page's list leaves out, or the one of the given schema.
TEST_F(ExportCommandTest, TableIsFoundByItsNameAlone) {
    server.execSql("shop",
                   "CREATE TABLE " + notes + " (Id INT); INSERT INTO " + notes + " VALUES (7);",
                   "sales");
    sql("CREATE TABLE PaymentSystems (Id INT); INSERT INTO PaymentSystems VALUES (8);");
    server.setCatalog("shop", {{"dbo", "Hidden", "VIEW"},
                               {"dbo", "Hidden", "SYSTEM TABLE"},
                               {"sales", notes, "TABLE"},
                               {"dbo", notes, "TABLE"},
                               {"dbo", "PaymentSystems", "TABLE"}});
    CliResult r = runCli(args("extract"), {}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.out, QByteArray("Id\r\n7"));

    // The text as it comes, to a file too: the lone LF inside the quoted value stays a lone LF.
    r = runCli(args("extract") << QStringLiteral("--schema=dbo") << QStringLiteral("-o")
                               << file("notes.csv"),
               {}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.out, QByteArray());
    EXPECT_EQ(readFile(file("notes.csv")), kNotesText);

    // A name the table page leaves out; export looks it up as extract does.
    r = runCli(args("export", "PaymentSystems"), {}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("<Id>8</Id>")) << r.out.constData();

    for (const char* missing : {"Missing", "Hidden", "paymentsystems"}) {
        r = runCli(args("extract", missing), {}, environment());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, QByteArray());
        EXPECT_TRUE(r.err.contains(QByteArray("no user table named '") + missing + '\''))
            << r.err.constData();
    }
}

// A tag that is no XML name under --strict-xml is refused before the server hears of it. A folder
// or an existing file as -o is refused before it too (ExistingFileIsKeptUnlessForced); what is
// said is convert's (ConvertCommand's FolderAsOutputIsRefusedPlainly and
// TagsThatAreNoXmlNamesWarnOrFail).
TEST_F(ExportCommandTest, StrictTagsAreRefusedBeforeAnyWork) {
    const CliResult r = runCli(args("export") << QStringLiteral("--row-tag=my row")
                                              << QStringLiteral("--strict-xml"),
                               {}, environment());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, QByteArray());
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
    EXPECT_TRUE(server.logins().empty());
}

// On a terminal the rows so far are shown in place, then one summary line; off a terminal, and
// with --quiet, standard error stays empty.
TEST_F(ExportCommandTest, ProgressIsShownOnATerminalOnly) {
    sql("CREATE TABLE Many (Id INT, Body NVARCHAR(20)); INSERT INTO Many WITH RECURSIVE "
        "n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "SELECT i, 'some text of a row' FROM n;");
    const QString out = file("many");
    for (const char* command : {"export", "extract"}) {
        SCOPED_TRACE(command);
        const QStringList forced = args(command, "Many")
                                   << QStringLiteral("-o") << out << QStringLiteral("--force");
        server.packetDelay(std::chrono::milliseconds(40)); // a slow network: over a second
        CliResult r = runCliOnTerminal(forced, environment());
        server.packetDelay(std::chrono::milliseconds(0));
        EXPECT_EQ(r.exitCode, 0) << r.out.constData();
        const QByteArray shown = r.out;
        const qsizetype first = shown.indexOf(" rows so far, ");
        const qsizetype last = shown.lastIndexOf(" rows so far, ");
        ASSERT_GE(first, 0) << shown.constData();
        EXPECT_GT(last, first) << "more than one update";
        EXPECT_TRUE(shown.contains(" rows/s")) << shown.constData();
        // Rewritten in place: no line ends until the summary.
        const qsizetype summary = shown.indexOf("\r3000 rows, ");
        ASSERT_GT(summary, last) << shown.constData();
        EXPECT_EQ(shown.left(summary).count('\n'), 0) << shown.constData();
        EXPECT_EQ(shown.lastIndexOf('\r', first), 0) << shown.constData();
        const QByteArray bytes = QByteArray::number(QFileInfo(out).size());
        EXPECT_TRUE(shown.mid(summary).startsWith("\r3000 rows, " + bytes + " bytes in "))
            << shown.mid(summary).constData();
        EXPECT_TRUE(shown.endsWith(" s\r\n")) << shown.constData();

        r = runCliOnTerminal(QStringList(forced) << QStringLiteral("--quiet"), environment());
        EXPECT_EQ(r.exitCode, 0) << r.out.constData();
        EXPECT_EQ(r.out, QByteArray());

        r = runCli(forced, {}, environment());
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_EQ(r.err, QByteArray());
    }
}

// Characters that XML 1.0 cannot hold (convert's check) and lone surrogates, which UTF-8 cannot
// hold, straight from the database: each told on a warning line of its own, U+FFFD for the
// surrogate, or with --strict-xml both told and no file. extract tells the surrogate alike.
TEST_P(ExportOnBothBackends, CharactersXmlOrUtf8CannotHoldWarnOrFail) {
    const std::string odd = backend->table("Odd");
    backend->exec({"CREATE TABLE " + odd + " (Id INT, [Odd Name] NVARCHAR(10));",
                   "INSERT INTO " + odd + " VALUES (1, 'x');",
                   "INSERT INTO " + odd + " VALUES (2, " + backend->text("a\x01z") + ");",
                   "INSERT INTO " + odd + " VALUES (3, " + backend->loneSurrogate() + ");"});
    const QString out = file("odd.xml");
    ASSERT_TRUE(writeFile(out, "old"));
    CliResult r =
        runCli(forcedExport(out, odd) << QStringLiteral("--strict-xml"), {}, environment());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("row 3, column 'Odd Name'; no file was written"))
        << r.err.constData();
    EXPECT_TRUE(r.err.contains("row 2, column 'Odd Name' holds")) << r.err.constData();
    EXPECT_EQ(readFile(out), QByteArray("old"));

    r = runCli(args("export", odd), {}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("<Odd_x0020_Name>a&#x1;z</Odd_x0020_Name>")) << r.out.constData();
    EXPECT_TRUE(r.out.contains("<Odd_x0020_Name>a\xEF\xBF\xBD"
                               "b</Odd_x0020_Name>"))
        << r.out.constData();
    EXPECT_EQ(r.err.count('\n'), 2) << r.err.constData();
    EXPECT_TRUE(r.err.contains("tallowby-cli: warning: 1 characters")) << r.err.constData();
    EXPECT_TRUE(r.err.startsWith("tallowby-cli: warning: 1 lone UTF-16 surrogates"))
        << r.err.constData();

    r = runCli(args("extract", odd), {}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("a\xEF\xBF\xBD"
                               "b"))
        << r.out.constData();
    EXPECT_TRUE(r.err.startsWith("tallowby-cli: warning: 1 lone UTF-16 surrogates"))
        << r.err.constData();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
}

// An existing file is the overwrite question's "No" unless --force answers "Yes".
TEST_F(ExportCommandTest, ExistingFileIsKeptUnlessForced) {
    const QString out = file("notes.xml");
    const QByteArray old(100000, 'x'); // longer than the new text
    ASSERT_TRUE(writeFile(out, old));
    CliResult r = runCli(args("export") << QStringLiteral("-o") << out, {}, environment());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("exists")) << r.err.constData();
    EXPECT_EQ(readFile(out), old);
    EXPECT_TRUE(server.batches().empty()); // asked before any work

    r = runCli(forcedExport(out), {}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    const QByteArray now = readFile(out);
    EXPECT_TRUE(now.startsWith("<XML>\r\n")) << now.left(40).constData();
    EXPECT_FALSE(now.contains("xxx")); // nothing of the old content remains
}

// A failure of the database after rows have been written leaves the old file as it was and no
// stray temporary file beside it.
TEST_F(ExportCommandTest, DatabaseFailuresLeaveTheOldFile) {
    const QString out = file("notes.xml");
    ASSERT_TRUE(writeFile(out, "old"));
    server.dropAfterRows(1);
    CliResult r = runCli(forcedExport(out), {}, environment());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.isEmpty());
    EXPECT_EQ(readFile(out), QByteArray("old"));
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList{QStringLiteral("notes.xml")});

    // A server that stops answering is reported within the limit the command was given.
    server.dropAfterRows(-1);
    server.stallAfterRows(1);
    r = runCli(forcedExport(out) << QStringLiteral("--query-timeout=2"), {}, environment());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("The server sent nothing for 2 s")) << r.err.constData();
    EXPECT_EQ(readFile(out), QByteArray("old"));
}

TALLOWBY_ON_BOTH_BACKENDS(ExportOnBothBackends);

} // namespace
