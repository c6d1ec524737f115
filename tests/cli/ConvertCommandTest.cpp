#include "CliRunner.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QByteArray kInput = "id,name\r\n1,\"B, ob\"";

QStringList args(std::initializer_list<const char*> list) {
    QStringList out{QStringLiteral("convert")};
    for (const char* a : list) {
        out << QString::fromUtf8(a);
    }
    return out;
}

TEST(ConvertCommand, EveryOptionIsHonoured) {
    const auto r = runCli(
        args({"--separator", ";;", "--xml-tag=Root", "--row-tag", "r", "--no-header"}), "a;;b");
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.out, QByteArray("<Root>\r\n <r>\r\n  <header1>a</header1>\r\n  <header2>b"
                                "</header2>\r\n </r>\r\n</Root>\r\n"));
    // A byte-order mark starting the text is dropped; inside it U+FEFF is a character as any.
    const auto flat = runCli(args({"--no-row-tags"}), "\xEF\xBB\xBF"
                                                      "a\r\n\xEF\xBB\xBF");
    EXPECT_EQ(flat.exitCode, 0) << flat.err.constData();
    EXPECT_EQ(flat.out, QByteArray("<XML>\r\n <a>\xEF\xBB\xBF</a>\r\n</XML>\r\n"));
}

TEST(ConvertCommand, UnreadableInputExitsWithTwo) {
    const auto missing = runCli(args({"/nonexistent/in.csv"}));
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains("/nonexistent/in.csv"));
    const auto binary = runCli(args({}), QByteArray("a\r\n\xC3(", 5));
    EXPECT_EQ(binary.exitCode, 2);
    EXPECT_TRUE(binary.err.contains("not UTF-8")) << binary.err.constData();
    EXPECT_TRUE(binary.out.isEmpty());
}

// A folder is no file: said plainly, and --force is neither offered nor of any help.
TEST(ConvertCommand, FolderAsOutputIsRefusedPlainly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folderInTheWay = dir.filePath(QStringLiteral("taken"));
    ASSERT_TRUE(QDir().mkdir(folderInTheWay));
    ASSERT_TRUE(writeFile(folderInTheWay + QStringLiteral("/keep"), "old"));
    for (const QStringList& force : {QStringList{}, QStringList{QStringLiteral("--force")}}) {
        const auto r = runCli(
            QStringList{QStringLiteral("convert"), QStringLiteral("-o"), folderInTheWay} << force,
            kInput);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "tallowby-cli: " + folderInTheWay.toUtf8() +
                             " is a folder; -o takes the path of a file\n");
    }
    EXPECT_EQ(readFile(folderInTheWay + QStringLiteral("/keep")), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("taken")});
}

// The tags are written as typed; one that is no XML name warns, or with --strict-xml fails
// before anything is written, standard output included.
TEST(ConvertCommand, TagsThatAreNoXmlNamesWarnOrFail) {
    const QByteArray input = "a\r\n1";
    auto r = runCli(args({"--row-tag", "my row"}), input);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(" <my row>\r\n")) << r.out.constData();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
    EXPECT_TRUE(r.err.startsWith("tallowby-cli: warning: the row tag")) << r.err.constData();

    r = runCli(args({"--xml-tag=a:b", "--row-tag="}), input);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData(); // both in one line
    EXPECT_TRUE(r.err.contains("'a:b' and the row tag")) << r.err.constData();

    // Without row tags the row tag is never written.
    r = runCli(args({"--row-tag", "my row", "--no-row-tags", "--xml-tag=Größe"}), input);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.isEmpty()) << r.err.constData();

    r = runCli(args({"--row-tag", "my row", "--strict-xml"}), input);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
    EXPECT_TRUE(r.err.contains("'my row' is not an XML name; nothing was written"))
        << r.err.constData();
}

// A value XML 1.0 cannot hold is written as a reference with one warning line, or with
// --strict-xml refused, leaving the old file; --force replaces it with what standard output got.
TEST(ConvertCommand, CharactersXmlCannotHoldWarnOrFail) {
    const QByteArray input = "id,\"Note Text\"\r\n1,ok\r\n2,a\x01z\x1A\r\n3,\x0B";
    const auto warned = runCli(args({}), input);
    EXPECT_EQ(warned.exitCode, 0);
    EXPECT_TRUE(warned.out.contains("<Note_x0020_Text>a&#x1;z&#x1A;</Note_x0020_Text>"));
    EXPECT_EQ(warned.err.count('\n'), 1) << warned.err.constData();
    EXPECT_TRUE(warned.err.contains("warning: 3 ")) << warned.err.constData();
    EXPECT_TRUE(warned.err.contains("row 2, column 'Note Text'")) << warned.err.constData();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString in = dir.filePath(QStringLiteral("in.csv"));
    const QString out = dir.filePath(QStringLiteral("out.xml"));
    ASSERT_TRUE(writeFile(in, input));
    ASSERT_TRUE(writeFile(out, "old"));
    const auto strict = runCli({QStringLiteral("convert"), QStringLiteral("--strict-xml"), in,
                                QStringLiteral("-o"), out, QStringLiteral("--force")});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_TRUE(strict.err.contains("row 2, column 'Note Text'")) << strict.err.constData();
    EXPECT_EQ(readFile(out), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left
    const auto forced = runCli(
        {QStringLiteral("convert"), in, QStringLiteral("-o"), out, QStringLiteral("--force")});
    EXPECT_EQ(forced.exitCode, 0);
    EXPECT_TRUE(forced.out.isEmpty());
    EXPECT_EQ(readFile(out), warned.out);

    // Standard output cannot be taken back: the failure must not claim that nothing was written.
    const auto piped = runCli(args({"--strict-xml"}), input);
    EXPECT_EQ(piped.exitCode, 1);
    EXPECT_FALSE(piped.err.contains("no file was written")) << piped.err.constData();

    const auto clean = runCli(args({"--strict-xml"}), "a\r\n\tb");
    EXPECT_EQ(clean.exitCode, 0);
    EXPECT_TRUE(clean.err.isEmpty()) << clean.err.constData();
}

// The program's own options, and each command's --help, which the manual page is checked
// against.
TEST(CliProgram, VersionAndHelpGoToStandardOutput) {
    auto r = runCli({QStringLiteral("--version")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(QString::fromUtf8(r.out).contains(
        QRegularExpression(QStringLiteral("^tallowby-cli \\d+\\.\\d+\\.\\d+\\n$"))))
        << r.out.constData();

    r = runCli({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.isEmpty());
    // Which options each --help lists is the manual page's check (package.man_options).
    for (const char* command : {"convert", "extract", "export", "probe", "tables"}) {
        EXPECT_TRUE(r.out.contains(QByteArray("\n  ") + command + ' ')) << command;
        const auto sub = runCli({QString::fromLatin1(command), QStringLiteral("-h")});
        EXPECT_EQ(sub.exitCode, 0) << command;
        EXPECT_TRUE(sub.err.isEmpty()) << command;
        EXPECT_TRUE(sub.out.startsWith(QByteArray("Usage: tallowby-cli ") + command + ' '))
            << sub.out.constData();
    }
}

TEST(CliProgram, UnknownOptionsAndMissingValuesGiveOneLine) {
    for (const char* line :
         {"--bogus", "--version=2", "probe --bogus", "tables stray", "export --table",
          "extract --table=T --nulls=nil", "tables --password", "nosuch", "convert --separator",
          "convert a b", "convert --no-header=1"}) {
        const auto r = runCli(QString::fromLatin1(line).split(u' '));
        EXPECT_EQ(r.exitCode, 2) << line;
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
        EXPECT_TRUE(r.err.startsWith("tallowby-cli: ")) << r.err.constData();
    }
    EXPECT_EQ(runCli({}).exitCode, 2);
}

} // namespace
