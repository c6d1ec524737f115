// Awkward values and names through the real driver to XML, by the command line's export and by
// the wizard's path (the delimited text, its conversion, the output page's file writing), read
// back by a strict parser: every value and every decoded name is what the table holds.
#include "DatabaseCommandsTest.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "output/SaveTextToFile.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <functional>
#include <string>
#include <vector>

namespace {

using Table = std::vector<std::vector<std::string>>; // rows of values; "" for NULL

// The names as the table holds them, and as an SQLite statement writes them.
const std::vector<std::string> kNames = {"Id",     "First Name",        "a:b", "1st",
                                         "x]y\"z", "\xC3\xA9t\xC3\xA9", "Note"};

// SQLite's literals for the test server; T-SQL's (N'...') for a real server.
bool tsql = false;

std::string sqlText(const std::string& value) {
    std::string out = tsql ? "N'" : "'";
    for (const char c : value) {
        out += c == '\'' ? std::string("''") : std::string(1, c);
    }
    return out + "'";
}

std::string sqlName(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return out + "\"";
}

// The login of a real SQL Server for the database tests, from TALLOWBY_TEST_SQLSERVER
// ("server=host,port;user=NAME;database=NAME") and TALLOWBY_TEST_SQLSERVER_PASSWORD.
std::optional<db::ConnectionSettings> realServer() {
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString named = env.value(QStringLiteral("TALLOWBY_TEST_SQLSERVER"));
    if (named.isEmpty()) {
        return std::nullopt;
    }
    db::ConnectionSettings settings;
    settings.password = env.value(QStringLiteral("TALLOWBY_TEST_SQLSERVER_PASSWORD"));
    for (const QString& part : named.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = part.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        const QString value = part.section(QLatin1Char('='), 1);
        (key == QLatin1String("server") ? settings.server
         : key == QLatin1String("user") ? settings.user
                                        : settings.database) = value;
    }
    return settings;
}

// Several hundred rows built from pieces that the splitting, the escaping and the line breaks
// each have to get right, in many combinations and lengths.
Table awkwardRows(std::vector<std::string>& statements) {
    const std::vector<std::string> pieces = {",",
                                             "\"",
                                             "\"\"",
                                             "\r\n",
                                             "\r",
                                             "\n",
                                             "<",
                                             "&",
                                             "]]>",
                                             "\t",
                                             "\xF0\x9F\x98\x80",
                                             "\xE2\x80\xA8",
                                             "\xE2\x80\xA9",
                                             "'",
                                             " ",
                                             "a",
                                             "&amp;",
                                             ";",
                                             "\xEF\xBB\xBF",
                                             "\xC2\xA0"};
    Table rows;
    std::uint32_t state = 7;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int r = 0; r < 400; ++r) {
        std::vector<std::string> row{std::to_string(r)};
        std::string sql = "INSERT INTO TallowbyRoundTrip VALUES (" + std::to_string(r);
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
                sql += ", " + sqlText(value); // shape 1 with length 0: the empty text
            }
            row.push_back(value);
        }
        statements.push_back(sql + ");");
        rows.push_back(std::move(row));
    }
    return rows;
}

// _xHHHH_ back to the character, as a reader of FOR XML names does.
std::string decodeName(const QString& name) {
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-F]{4}|[0-9A-F]{8})_"));
    QString out;
    qsizetype from = 0;
    for (auto it = escape.globalMatch(name); it.hasNext();) {
        const auto match = it.next();
        out += name.mid(from, match.capturedStart() - from);
        const char32_t code = match.captured(1).toUInt(nullptr, 16);
        out += QString::fromUcs4(&code, 1);
        from = match.capturedEnd();
    }
    return (out + name.mid(from)).toStdString();
}

// The file as a strict reader gives it back: the names of the first row, and every value.
void readBack(const QByteArray& xml, std::vector<std::string>& names, Table& rows) {
    QXmlStreamReader reader(xml);
    int depth = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            ++depth;
            if (depth == 2) {
                rows.emplace_back();
            } else if (depth == 3) {
                if (rows.size() == 1) {
                    names.push_back(decodeName(reader.name().toString()));
                }
                rows.back().push_back(reader.readElementText().toStdString());
                --depth;
            }
        } else if (reader.isEndElement()) {
            --depth;
        }
    }
    ASSERT_FALSE(reader.hasError()) << reader.errorString().toStdString();
}

struct Keep final : CSVXML::OverwriteQuestion {
    bool confirm(const QString&) override { return true; }
};

enum class Backend { TestServer, SqlServer };

std::string backendName(Backend b) {
    return b == Backend::TestServer ? "TestServer" : "SqlServer";
}

// One body, two back ends: the project's test server always, a real SQL Server when
// TALLOWBY_TEST_SQLSERVER names one.
class RoundTrip : public DatabaseCommandsTest, public testing::WithParamInterface<Backend> {
protected:
    void SetUp() override {
        DatabaseCommandsTest::SetUp();
        tsql = GetParam() == Backend::SqlServer;
        if (!tsql) {
            login = {address(), u("demo"), u("demo"), u("shop")};
            return;
        }
        const std::optional<db::ConnectionSettings> real = realServer();
        if (!real) {
            GTEST_SKIP()
                << "TALLOWBY_TEST_SQLSERVER is not set: no real SQL Server to test against";
        }
        login = *real;
    }

    // Runs the statements where the table is to be.
    void run(const std::vector<std::string>& statements) {
        if (!tsql) {
            std::string all;
            for (const std::string& statement : statements) {
                all += statement;
            }
            server.execSql("shop", all);
            return;
        }
        db::Connection connection =
            db::Connection::open(db::connectionString(login, db::ConnectionStringForm::UpperCase),
                                 std::chrono::seconds(10));
        for (const std::string& statement : statements) {
            connection.query(QString::fromStdString(statement));
        }
    }

    QStringList exportArgs(const QString& file) const {
        return {u("export"),  u("--server"),          login.server,   u("--user"),
                login.user,   u("--database"),        login.database, u("--login-timeout=10"),
                u("--table"), u("TallowbyRoundTrip"), u("-o"),        file};
    }

    db::ConnectionSettings login;
};

TEST_P(RoundTrip, EveryValueAndNameComesBackByBothPaths) {
    std::vector<std::string> sql;
    if (tsql) {
        sql.push_back("IF OBJECT_ID('dbo.TallowbyRoundTrip') IS NOT NULL "
                      "DROP TABLE dbo.TallowbyRoundTrip;");
    }
    std::string create = "CREATE TABLE TallowbyRoundTrip (" + sqlName(kNames[0]) + " INT";
    for (std::size_t c = 1; c < kNames.size(); ++c) {
        create += ", " + sqlName(kNames[c]) + " [NVARCHAR(MAX)]"; // brackets: SQLite reads no (MAX)
    }
    sql.push_back(create + ");");
    const Table table = awkwardRows(sql);
    run(sql);

    QTemporaryDir work;
    const QString cliFile = work.filePath(QStringLiteral("cli.xml"));
    const CliResult r =
        runCli(exportArgs(cliFile), {}, environment(login.password.toUtf8().constData()));
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.constData();

    // The wizard's path: the options page's text, its preview, and the output page's save.
    const std::string text = CSVXML::ExtractTableText(login, {u("dbo"), u("TallowbyRoundTrip")},
                                                      std::chrono::seconds(10));
    CSVXML::StringSink preview;
    CSVXML::ConvertTextToXml(text, {}, preview);
    const QString wizardFile = work.filePath(QStringLiteral("wizard.xml"));
    Keep keep;
    ASSERT_EQ(CSVXML::SaveTextToFile(QString::fromStdString(preview.text), wizardFile, keep).status,
              CSVXML::SaveResult::Status::Written);

    for (const QString& path : {cliFile, wizardFile}) {
        SCOPED_TRACE(path.toStdString());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        std::vector<std::string> names;
        Table rows;
        readBack(file.readAll(), names, rows);
        EXPECT_EQ(names, kNames);
        ASSERT_EQ(rows.size(), table.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(rows[i], table[i]) << "row " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, RoundTrip,
                         testing::Values(Backend::TestServer, Backend::SqlServer),
                         [](const testing::TestParamInfo<Backend>& param) {
                             return backendName(param.param);
                         });

} // namespace
