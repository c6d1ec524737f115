// The bundled sample database, built by scripts/make-demo-db, and tallowby-demo-server serving
// it as a user would start it, read through the program's own database layer.

#include "db/Connection.h"
#include "db/ConnectionString.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/wait.h>
#include <tdsserver/server.h>
#include <thread>
#include <unistd.h>

using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

// A temporary folder holding the sample database, built once for all tests of this file.
const std::filesystem::path& sampleFolder() {
    static const std::filesystem::path folder = [] {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("tallowby-sample-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        const std::string command = std::string(TALLOWBY_SOURCE_DIR) + "/scripts/make-demo-db '" +
                                    dir.string() + "' > /dev/null";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("make-demo-db failed");
        return dir;
    }();
    return folder;
}

struct SampleCleanup : ::testing::Environment {
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                        ("tallowby-sample-" + std::to_string(::getpid())),
                                    ignored);
    }
};
const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new SampleCleanup);

db::Connection open(std::uint16_t port, const char* user = "demo", const char* password = "demo") {
    const db::ConnectionSettings login{QStringLiteral("127.0.0.1,%1").arg(port),
                                       QString::fromUtf8(user), QString::fromUtf8(password),
                                       QStringLiteral("demo")};
    return db::Connection::open(db::connectionString(login, db::ConnectionStringForm::UpperCase),
                                std::chrono::seconds(5));
}

using Row = std::vector<std::optional<std::string>>;

// Every row of `rows`, each value as text (nullopt for NULL).
std::vector<Row> readAll(db::ResultSet rows) {
    std::vector<Row> out;
    while (rows.next()) {
        Row row;
        for (int c = 0; c < rows.columnCount(); ++c) {
            const std::optional<QString> value = rows.text(c);
            row.push_back(value ? std::optional(value->toStdString()) : std::nullopt);
        }
        out.push_back(std::move(row));
    }
    return out;
}

std::vector<Row> query(db::Connection& c, const char* sql) {
    return readAll(c.query(QString::fromUtf8(sql)));
}

class SampleTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.addDatabase("demo", (sampleFolder() / "demo.sqlite").string());
        port = server.start();
    }
    tdsserver::Server server;
    std::uint16_t port = 0;
};

} // namespace

TEST_F(SampleTest, CatalogueHoldsTheSampleObjects) {
    db::Connection c = open(port);
    std::vector<std::string> listed;
    for (const Row& row : readAll(c.tables())) {
        listed.push_back(row.at(1).value_or("") + "." + row.at(2).value_or("") + ":" +
                         row.at(3).value_or(""));
    }
    for (const char* expected :
         {"dbo.Customers:TABLE", "sales.Customers:TABLE", "dbo.Order Details:TABLE",
          "dbo.Prices]2024:TABLE", "dbo.Archive:TABLE", "dbo.Measurements:TABLE",
          "dbo.sysdiagrams:TABLE", "dbo.CustomerOrders:VIEW", "dbo.sqlite_sequence:SYSTEM TABLE"})
        EXPECT_THAT(listed, Contains(expected));
}

TEST_F(SampleTest, SampleValuesThatAnExportMustCarry) {
    db::Connection c = open(port);
    const auto customers = query(c, "SELECT * FROM [Customers];");
    ASSERT_EQ(customers.size(), 10u);
    using Cell = std::optional<std::string>;
    EXPECT_EQ(customers[1][1], Cell("Smith, Jones & Partners"));
    EXPECT_EQ(customers[2][1], Cell("O'Brien \"The Shop\""));
    EXPECT_EQ(customers[3][6], Cell("First line\r\nSecond line"));
    EXPECT_EQ(customers[4][1], Cell("<Angle> & Brackets"));
    EXPECT_EQ(customers[6][1], Cell("東京商事"));
    EXPECT_THAT(customers[7], ElementsAre(Cell("8"), Cell("Müller GmbH"), Cell("Zürich"), Cell(),
                                          Cell(), Cell(), Cell()));
    EXPECT_EQ(query(c, "SELECT * FROM [Measurements];").size(), 10000u);
    EXPECT_TRUE(query(c, "SELECT * FROM [Archive];").empty());
    EXPECT_EQ(query(c, "SELECT * FROM [Prices]]2024];").size(), 2u);
    EXPECT_EQ(query(c, "SELECT * FROM [Order Details];").size(), 4u);
    EXPECT_EQ(c.query(QStringLiteral("SELECT * FROM [sales].[Customers];")).column(1).name,
              QStringLiteral("Region"));
}

// The executable as the README starts it: prints its port, serves, stops on a signal.
TEST(DemoServer, ServesTheFolderAndStopsCleanlyOnSignals) {
    for (const int signal : {SIGTERM, SIGINT}) {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            const std::string data = sampleFolder().string();
            ::execl(TALLOWBY_DEMO_SERVER, TALLOWBY_DEMO_SERVER, "--data", data.c_str(), "--port",
                    "0", "--user", "u", "--password", "p w", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* stream = ::fdopen(out[0], "r");
        char line[128] = {};
        const bool gotLine = std::fgets(line, sizeof line, stream) != nullptr;
        std::fclose(stream);
        unsigned port = 0;
        EXPECT_TRUE(gotLine);
        EXPECT_EQ(std::sscanf(line, "Listening on 127.0.0.1:%u", &port), 1) << line;
        if (port != 0) {
            db::Connection c = open(static_cast<std::uint16_t>(port), "u", "p w");
            EXPECT_EQ(query(c, "SELECT * FROM [Customers]").size(), 10u);
        }
        ::kill(pid, signal);
        int status = 0;
        bool ended = false;
        // Bounded wait: a server that ignores the signal fails the test instead of hanging it.
        for (int i = 0; i < 100 && !ended; ++i) {
            ended = ::waitpid(pid, &status, WNOHANG) == pid;
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "the server did not stop on signal " << signal;
        }
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}
