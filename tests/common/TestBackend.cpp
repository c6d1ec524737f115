#include "TestBackend.h"

#include "db/ConnectionString.h"

#include <QProcessEnvironment>
#include <QStringList>
#include <algorithm>
#include <unistd.h>

namespace {

// `text` between `open` and `close`, with every `close` inside doubled.
std::string enclosed(const std::string& text, const std::string& open, char close) {
    std::string out = open;
    for (const char c : text) {
        out += c == close ? std::string(2, c) : std::string(1, c);
    }
    return out + close;
}

std::string bracketed(const std::string& name) {
    return enclosed(name, "[", ']');
}

// A table or a view of that name, if there is one.
std::string dropStatement(const std::string& name) {
    const std::string object = "dbo." + bracketed(name);
    const std::string literal = enclosed(object, "N'", '\'');
    return "IF OBJECT_ID(" + literal + ", N'V') IS NOT NULL DROP VIEW " + object +
           "; IF OBJECT_ID(" + literal + ", N'U') IS NOT NULL DROP TABLE " + object + ";";
}

} // namespace

TestBackend::TestBackend(tdsserver::Server& server, std::uint16_t port)
    : server_(&server), login_{QStringLiteral("127.0.0.1,%1").arg(port), QStringLiteral("demo"),
                               QStringLiteral("demo"), QStringLiteral("shop")} {}

std::optional<TestBackend> TestBackend::realServer() {
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString named = env.value(QStringLiteral("TALLOWBY_TEST_SQLSERVER"));
    if (named.isEmpty()) {
        return std::nullopt;
    }
    TestBackend real;
    real.login_.password = env.value(QStringLiteral("TALLOWBY_TEST_SQLSERVER_PASSWORD"));
    for (const QString& part : named.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = part.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        const QString value = part.section(QLatin1Char('='), 1);
        if (key == QLatin1String("server")) {
            real.login_.server = value;
        } else if (key == QLatin1String("user")) {
            real.login_.user = value;
        } else if (key == QLatin1String("database")) {
            real.login_.database = value;
        } else {
            ADD_FAILURE() << "TALLOWBY_TEST_SQLSERVER: unknown key '" << key.toStdString() << "'";
        }
    }
    return real;
}

TestBackend::~TestBackend() {
    // The test server is thrown away with its fixture; only a real server keeps tables.
    if (server_ != nullptr || created_.empty()) {
        return;
    }
    try {
        std::vector<std::string> drops;
        for (const std::string& name : created_) {
            drops.push_back(dropStatement(name));
        }
        std::reverse(drops.begin(), drops.end()); // a view before the table it reads
        exec(drops);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "dropping the test tables failed: " << e.what();
    }
}

std::string TestBackend::table(const std::string& base) {
    const std::string name = base + "_" + std::to_string(::getpid());
    created_.push_back(name);
    if (server_ == nullptr) {
        // Left over from a run that was killed: a process id comes round again.
        exec({dropStatement(name)});
    }
    return name;
}

db::Connection& TestBackend::connection() {
    if (!connection_) {
        connection_.emplace(
            db::Connection::open(db::connectionString(login_, db::ConnectionStringForm::UpperCase),
                                 std::chrono::seconds(10)));
    }
    return *connection_;
}

void TestBackend::exec(const std::vector<std::string>& statements) {
    if (server_ != nullptr) {
        std::string all;
        for (const std::string& statement : statements) {
            all += statement;
        }
        server_->execSql("shop", all);
        return;
    }
    for (const std::string& statement : statements) {
        connection().query(QString::fromStdString(statement));
    }
}

std::string TestBackend::text(const std::string& utf8) const {
    return enclosed(utf8, isTsql() ? "N'" : "'", '\'');
}

std::string TestBackend::quoted(const std::string& name) const {
    // SQLite's brackets have no escape for "]".
    return isTsql() ? bracketed(name) : enclosed(name, "\"", '"');
}

std::string TestBackend::bytes(const std::string& hex) const {
    return isTsql() ? "0x" + hex : "x'" + hex + "'";
}

std::string TestBackend::loneSurrogate() const {
    // The test server sends a surrogate stored in UTF-8's three-byte form as that lone unit.
    return isTsql() ? "N'a' + NCHAR(55296) + N'b'" : "CAST(x'61EDA08062' AS TEXT)";
}

std::string TestBackend::longText() const {
    // SQLite cannot parse "(max)" but takes a bracketed type name, which T-SQL would look up as a
    // user type of that name.
    return isTsql() ? "nvarchar(max)" : "[nvarchar(max)]";
}

std::string backendName(const testing::TestParamInfo<Backend>& param) {
    return param.param == Backend::TestServer ? "TestServer" : "SqlServer";
}
