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

    // `command` of `table` (Notes when none is given).
    QStringList args(const char* command, const std::string& table = {}) const {
        return loginArgs(command) << u("--table")
                                  << QString::fromStdString(table.empty() ? notes : table);
    }
    // The same into `out`, replacing what is there.
    QStringList forced(const char* command, const QString& out,
                       const std::string& table = {}) const {
        return args(command, table) << u("-o") << out << u("--force");
    }
    // Runs the command with the back end's login; it must end with `code`.
    CliResult run(const QStringList& arguments, int code = 0) const {
        CliResult r = runCli(arguments, {}, environment());
        EXPECT_EQ(r.exitCode, code) << arguments.join(u' ').toStdString() << '\n'
                                    << r.err.constData();
        return r;
    }
    QString file(const char* name) const { return work.filePath(u(name)); }

    QTemporaryDir work;
    std::string notes;
};

// The cases that need no fault, schema or record of the test server run on a real one too.
using ExportOnBothBackends = OnBothBackends<ExportCommandTest>;

const QByteArray kNotesText = "Id,Body,Seen\r\n"
                              "1,\"a,b \"\"q\"\"\",2024-01-02T03:04:05.000\r\n"
                              "2,\"line\nfeed\",\r\n"
                              ",<&> \xC3\xA9,2024-12-31T23:59:59.000";

using Rows = std::vector<std::vector<std::string>>;

// `export` streams, yet writes exactly what converting the whole extracted text writes: a NULL,
// by default and with --nulls empty, as an empty value.
TEST_P(ExportOnBothBackends, ExportEqualsConvertingTheExtractedText) {
    const QStringList variants[] = {
        {},
        {u("--no-row-tags"), u("--xml-tag=Notes")},
        {u("--row-tag"), u("note")},
    };
    for (const QStringList& options : variants) {
        SCOPED_TRACE(options.join(QLatin1Char(' ')).toStdString());
        const CliResult exported = run(args("export") << options);
        const CliResult converted =
            runCli(QStringList{u("convert")} << options, kNotesText, environment(nullptr));
        ASSERT_EQ(converted.exitCode, 0) << converted.err.constData();
        EXPECT_EQ(exported.out, converted.out);
        EXPECT_FALSE(readValues(exported.out, false).empty()); // a strict reader takes it
    }
    EXPECT_EQ(run(args("export") << u("--nulls") << u("empty")).out, run(args("export")).out);
}

// Only export, which reads the table itself, can tell a NULL from an empty text.
TEST_P(ExportOnBothBackends, NullFormsReadBackAsTheyAreMeant) {
    const std::string gaps = backend->table("Gaps");
    const std::string insert = "INSERT INTO " + gaps + " VALUES ";
    backend->exec({"CREATE TABLE " + gaps + " (A INT, B NVARCHAR(10), C INT);",
                   insert + "(NULL, 'x', 1);", insert + "(2, NULL, 3);", insert + "(4, '', NULL);",
                   insert + "(NULL, NULL, NULL);", insert + "(5, '<y>', 6);"});
    const auto exportAs = [&](const QStringList& options) {
        return run(args("export", gaps) << options).out;
    };
    EXPECT_EQ(readValues(exportAs({u("--nulls=omit")}), false),
              (Rows{{"B=x", "C=1"}, {"A=2", "C=3"}, {"A=4", "B="}, {}, {"A=5", "B=<y>", "C=6"}}));
    EXPECT_EQ(readValues(exportAs({u("--nulls=nil")}), true), (Rows{{"A nil", "B=x", "C=1"},
                                                                    {"A=2", "B nil", "C=3"},
                                                                    {"A=4", "B=", "C nil"},
                                                                    {"A nil", "B nil", "C nil"},
                                                                    {"A=5", "B=<y>", "C=6"}}));

    // Without row tags the values stand straight under the root.
    const QByteArray bare = exportAs({u("--nulls=omit"), u("--no-row-tags")});
    EXPECT_TRUE(bare.startsWith("<XML>\r\n <B>x</B>\r\n <C>1</C>\r\n <A>2</A>\r\n"))
        << bare.constData();
}

// The types with wire types of their own, exported and read back by a strict XML reader: each
// value as the SQLite source holds it (xml and text escaped like any text), and each NULL told
// from an empty value. Their long values are the extraction's (ExtractTest).
TEST_F(ExportCommandTest, OwnWireTypesReadBackAsTheSourceHoldsThem) {
    server.execSql(
        "shop",
        "CREATE TABLE W (O datetimeoffset(2), X xml, I image, T text, N ntext, V sql_variant);"
        "INSERT INTO W VALUES ('2024-02-29 13:45:07.5 -05:00', '<a b=\"1\">&amp; é</a>',"
        " x'0001ff', 'café <&>', '😀 ĉ', 'CAST(''2024-02-29 13:45:07.997'' AS datetime)');"
        "INSERT INTO W VALUES (NULL, NULL, NULL, NULL, NULL, NULL);");
    const CliResult r = run(args("export", "W") << u("--nulls=nil"));
    EXPECT_TRUE(readValues(r.out, true) ==
                (Rows{{"O=2024-02-29T13:45:07.50-05:00", "X=<a b=\"1\">&amp; é</a>", "I=AAH/",
                       "T=café <&>", "N=😀 ĉ", "V=2024-02-29T13:45:07.997"},
                      {"O nil", "X nil", "I nil", "T nil", "N nil", "V nil"}}));
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
    EXPECT_EQ(run(args("extract")).out, QByteArray("Id\r\n7"));

    // The text as it comes, to a file too: the lone LF inside the quoted value stays a lone LF.
    EXPECT_EQ(run(args("extract") << u("--schema=dbo") << u("-o") << file("notes.csv")).out,
              QByteArray());
    EXPECT_EQ(readFile(file("notes.csv")), kNotesText);

    // A name the table page leaves out; export looks it up as extract does.
    const QByteArray payments = run(args("export", "PaymentSystems")).out;
    EXPECT_TRUE(payments.contains("<Id>8</Id>")) << payments.constData();

    for (const char* missing : {"Missing", "Hidden", "paymentsystems"}) {
        const CliResult r = run(args("extract", missing), 1);
        EXPECT_EQ(r.out, QByteArray());
        EXPECT_TRUE(r.err.contains(QByteArray("no user table named '") + missing + '\''))
            << r.err.constData();
    }
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
        const QStringList many = forced(command, out, "Many");
        server.packetDelay(std::chrono::milliseconds(40)); // a slow network: over a second
        const CliResult r = runCliOnTerminal(many, environment());
        server.packetDelay(std::chrono::milliseconds(0));
        EXPECT_EQ(r.exitCode, 0) << r.out.constData();
        const QByteArray& shown = r.out;
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

        const CliResult quiet = runCliOnTerminal(QStringList(many) << u("--quiet"), environment());
        EXPECT_EQ(quiet.exitCode, 0) << quiet.out.constData();
        EXPECT_EQ(quiet.out, QByteArray());
        EXPECT_EQ(run(many).err, QByteArray());
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
    CliResult r = run(forced("export", out, odd) << u("--strict-xml"), 1);
    EXPECT_TRUE(r.err.contains("row 3, column 'Odd Name'; no file was written"))
        << r.err.constData();
    EXPECT_TRUE(r.err.contains("row 2, column 'Odd Name' holds")) << r.err.constData();
    EXPECT_EQ(readFile(out), QByteArray("old"));

    const char* const surrogates = "tallowby-cli: warning: 1 lone UTF-16 surrogates";
    r = run(args("export", odd));
    EXPECT_TRUE(r.out.contains("<Odd_x0020_Name>a&#x1;z</Odd_x0020_Name>")) << r.out.constData();
    EXPECT_TRUE(r.out.contains("<Odd_x0020_Name>a\uFFFDb</Odd_x0020_Name>")) << r.out.constData();
    EXPECT_EQ(r.err.count('\n'), 2) << r.err.constData();
    EXPECT_TRUE(r.err.contains("tallowby-cli: warning: 1 characters")) << r.err.constData();
    EXPECT_TRUE(r.err.startsWith(surrogates)) << r.err.constData();

    r = run(args("extract", odd));
    EXPECT_TRUE(r.out.contains("a\uFFFDb")) << r.out.constData();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
    EXPECT_TRUE(r.err.startsWith(surrogates)) << r.err.constData();
}

// Refused before the server hears of it: a tag that is no XML name under --strict-xml (in
// convert's words), and an existing file, which is the overwrite question's "No" unless --force
// answers "Yes". A forced export that fails, the connection lost after a row or the server silent
// past --query-timeout, leaves the old file as it was and no stray temporary file beside it.
TEST_F(ExportCommandTest, RefusalsComeBeforeAnyWorkAndFailuresKeepTheOldFile) {
    CliResult r = run(args("export") << u("--row-tag=my row") << u("--strict-xml"), 1);
    EXPECT_EQ(r.out, QByteArray());
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
    const QString out = file("notes.xml");
    const QByteArray old(100000, 'x'); // longer than the new text
    ASSERT_TRUE(writeFile(out, old));
    r = run(args("export") << u("-o") << out, 1);
    EXPECT_TRUE(r.err.contains("exists")) << r.err.constData();
    EXPECT_EQ(readFile(out), old);
    EXPECT_TRUE(server.logins().empty());

    server.dropAfterRows(1);
    EXPECT_FALSE(run(forced("export", out), 1).err.isEmpty());
    EXPECT_EQ(readFile(out), old);
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u("notes.xml")});

    server.dropAfterRows(-1);
    server.stallAfterRows(1);
    r = run(forced("export", out) << u("--query-timeout=2"), 1);
    EXPECT_TRUE(r.err.contains("The server sent nothing for 2 s")) << r.err.constData();
    EXPECT_EQ(readFile(out), old);

    server.stallAfterRows(-1);
    run(forced("export", out));
    const QByteArray now = readFile(out);
    EXPECT_TRUE(now.startsWith("<XML>\r\n")) << now.left(40).constData();
    EXPECT_FALSE(now.contains("xxx")); // nothing of the old content remains
}

TALLOWBY_ON_BOTH_BACKENDS(ExportOnBothBackends);

} // namespace
