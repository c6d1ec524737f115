// Awkward values and names through the real driver to XML, by the command line's export and by
// the wizard's path (the delimited text, its conversion, the output page's file writing), read
// back by a strict parser: every value and every name is what the table holds.
#include "DatabaseCommandsTest.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"
#include "convert/XmlName.h"
#include "output/SaveTextToFile.h"

#include <functional>
#include <string>
#include <vector>

namespace {

using Table = std::vector<std::vector<std::string>>; // rows of values; "" for NULL

// The names as the table holds them.
const std::vector<std::string> kNames = {"Id",     "First Name",        "a:b", "1st",
                                         "x]y\"z", "\xC3\xA9t\xC3\xA9", "Note"};

// Several hundred rows built from pieces that the splitting, the escaping and the line breaks
// each have to get right, in many combinations and lengths.
Table awkwardRows(TestBackend& backend, const std::string& table,
                  std::vector<std::string>& statements) {
    const std::vector<std::string> pieces = {
        ",", "\"",  "\"\"",  "\r\n", "\r",           "\n",           "<",
        "&", "]]>", "\t",    "😀",    "\xE2\x80\xA8", "\xE2\x80\xA9", "'",
        " ", "a",   "&amp;", ";",    "\xEF\xBB\xBF", "\xC2\xA0"};
    Table rows;
    std::uint32_t state = 7;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int r = 0; r < 400; ++r) {
        std::vector<std::string> row{std::to_string(r)};
        std::string sql = "INSERT INTO " + table + " VALUES (" + std::to_string(r);
        for (std::size_t c = 1; c < kNames.size(); ++c) {
            std::string value;
            const std::uint32_t shape = next() % 10;
            if (shape == 0) {
                sql += ", NULL";
            } else {
                const std::size_t length = shape == 9 ? 3000 + next() % 3000 : next() % 12;
                for (std::size_t i = 0; i < length; ++i) {
                    value += pieces[next() % pieces.size()];
                }
                sql += ", " + backend.text(value); // shape 1 with length 0: the empty text
            }
            row.push_back(value);
        }
        statements.push_back(sql + ");");
        rows.push_back(std::move(row));
    }
    return rows;
}

struct Keep final : CSVXML::OverwriteQuestion {
    bool confirm(const QString&) override { return true; }
};

// One body, two back ends: the project's test server always, a real SQL Server when
// TALLOWBY_TEST_SQLSERVER names one.
using RoundTrip = OnBothBackends<DatabaseCommandsTest>;

TEST_P(RoundTrip, EveryValueAndNameComesBackByBothPaths) {
    const std::string table = backend->table("TallowbyRoundTrip");
    std::string create = "CREATE TABLE " + table + " (" + backend->quoted(kNames[0]) + " INT";
    for (std::size_t c = 1; c < kNames.size(); ++c) {
        create += ", " + backend->quoted(kNames[c]) + " " + backend->longText();
    }
    std::vector<std::string> sql = {create + ");"};
    const Table rowsHeld = awkwardRows(*backend, table, sql);
    backend->exec(sql);

    QTemporaryDir work;
    const QString cliFile = work.filePath(QStringLiteral("cli.xml"));
    const CliResult r = runCli(loginArgs("export") << u("--table") << QString::fromStdString(table)
                                                   << u("-o") << cliFile,
                               {}, environment());
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.constData();

    // The wizard's path: the options page's text, its preview, and the output page's save.
    const std::string text = CSVXML::ExtractTableText(
        backend->login(), {u("dbo"), QString::fromStdString(table)}, std::chrono::seconds(10));
    CSVXML::StringSink preview;
    CSVXML::ConvertTextToXml(text, {}, preview);
    const QString wizardFile = work.filePath(QStringLiteral("wizard.xml"));
    Keep keep;
    ASSERT_EQ(
        CSVXML::SaveTextToFile([&] { return std::string_view(preview.text); }, wizardFile, keep)
            .status,
        CSVXML::SaveResult::Status::Written);

    // Each name as the conversion encodes it, which XmlName's tests check.
    std::vector<std::string> encodedNames;
    for (const std::string& name : kNames) {
        encodedNames.push_back(CSVXML::encodeXmlName(name));
    }
    for (const QString& path : {cliFile, wizardFile}) {
        SCOPED_TRACE(path.toStdString());
        std::vector<std::string> names;
        Table rows;
        for (const std::vector<std::string>& row : readValues(readFile(path), false)) {
            rows.emplace_back();
            for (const std::string& cell : row) {
                const std::size_t equals = cell.find('='); // an encoded name holds none
                if (rows.size() == 1) {
                    names.push_back(cell.substr(0, equals));
                }
                rows.back().push_back(cell.substr(equals + 1));
            }
        }
        EXPECT_EQ(names, encodedNames);
        ASSERT_EQ(rows.size(), rowsHeld.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(rows[i], rowsHeld[i]) << "row " << i;
        }
    }
}

TALLOWBY_ON_BOTH_BACKENDS(RoundTrip);

} // namespace
