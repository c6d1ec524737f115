// tallowby-demo-server serving the bundled sample database (built by scripts/make-demo-db) as
// scripts/demo starts it, read through the program's own database layer.

#include "RecordingRelay.h"
#include "db/Connection.h"

#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/wait.h>
#include <tdsserver/certificate.h>
#include <thread>
#include <unistd.h>
#include <utility>

using ::testing::Contains;

namespace {

// A temporary folder holding the sample database, built once for all tests of this file and
// removed when the process ends.
const std::filesystem::path& sampleFolder() {
    static const QTemporaryDir dir;
    static const std::filesystem::path folder = [] {
        const std::string command = std::string(TALLOWBY_SOURCE_DIR) + "/scripts/make-demo-db '" +
                                    dir.path().toStdString() + "' > /dev/null";
        if (!dir.isValid() || std::system(command.c_str()) != 0)
            throw std::runtime_error("make-demo-db failed");
        return std::filesystem::path(dir.path().toStdString());
    }();
    return folder;
}

// The demo server started with `args` after --data and --port 0; its port is 0 when it did not
// report one. stop() ends it, at the latest by SIGKILL.
struct DemoProcess {
    pid_t pid = -1;
    unsigned port = 0;

    explicit DemoProcess(const std::vector<std::string>& args) {
        std::vector<std::string> all = {TALLOWBY_DEMO_SERVER, "--data", sampleFolder().string(),
                                        "--port", "0"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execv(TALLOWBY_DEMO_SERVER, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* stream = ::fdopen(out[0], "r");
        char line[128] = {};
        if (pid > 0 && std::fgets(line, sizeof line, stream) != nullptr)
            std::sscanf(line, "Listening on 127.0.0.1:%u", &port);
        std::fclose(stream);
    }
    ~DemoProcess() { stop(SIGTERM); }

    // Sends `signal` and waits a bounded time; the exit status, or nullopt when the server had
    // to be killed because it did not end.
    std::optional<int> stop(int signal) {
        if (pid <= 0)
            return std::nullopt;
        const pid_t child = std::exchange(pid, -1);
        ::kill(child, signal);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(child, &status, WNOHANG) == child)
                return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return std::nullopt;
    }
};

} // namespace

// The executable as the README starts it: prints its port, serves, stops on a signal. Its
// catalogue tells views and system tables apart from tables, and schemas apart, which the tests
// of the table list take for granted of the test server.
TEST(DemoServer, ServesTheFolderAndStopsCleanlyOnSignals) {
    for (const int signal : {SIGTERM, SIGINT}) {
        DemoProcess server({"--user", "u", "--password", "p w"});
        ASSERT_NE(server.port, 0u);
        db::Connection c = db::Connection::open(
            directConnectionString(std::uint16_t(server.port), QStringLiteral("demo"),
                                   QStringLiteral("u"), QStringLiteral("p w")),
            std::chrono::seconds(5));
        int customers = 0; // each value read, as an export reads them
        for (db::ResultSet rows = c.query(QStringLiteral("SELECT * FROM [Customers]")); rows.next();
             ++customers)
            for (int i = 0; i < rows.columnCount(); ++i)
                (void)rows.text(i);
        EXPECT_EQ(customers, 10);
        std::vector<std::string> listed; // as schema.name:type
        for (db::ResultSet rows = c.tables(); rows.next();) {
            std::string entry;
            for (const int i : {1, 2, 3})
                entry += rows.text(i).value_or(QString()).toStdString() + (i == 1 ? "." : ":");
            listed.push_back(entry.substr(0, entry.size() - 1));
        }
        for (const char* expected : {"dbo.Customers:TABLE", "sales.Customers:TABLE",
                                     "dbo.CustomerOrders:VIEW", "dbo.sqlite_sequence:SYSTEM TABLE"})
            EXPECT_THAT(listed, Contains(expected));
        const std::optional<int> status = server.stop(signal);
        ASSERT_TRUE(status.has_value()) << "the server did not stop on signal " << signal;
        EXPECT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 0);
    }
}

namespace {

QString demoLogin(std::uint16_t port, const char* encryption) {
    return directConnectionString(port, QStringLiteral("demo"), QStringLiteral("demo"),
                                  QStringLiteral("demo"), encryption);
}

} // namespace

// As scripts/demo starts it: TLS required, with the certificate and key of the files given, which
// is the certificate a client is shown; and with --encryption none, no TLS for anyone.
TEST(DemoServer, TakesItsEncryptionAndCertificateFromTheCommandLine) {
    tdsserver::CertificateRequest request;
    request.commonName = "demo.example";
    const tdsserver::Certificate certificate = tdsserver::makeCertificate(request);
    const std::filesystem::path cert = sampleFolder() / "server.crt";
    const std::filesystem::path key = sampleFolder() / "server.key";
    std::ofstream(cert) << certificate.certificatePem;
    std::ofstream(key) << certificate.privateKeyPem;

    {
        DemoProcess server(
            {"--encryption", "required", "--cert", cert.string(), "--key", key.string()});
        ASSERT_NE(server.port, 0u);
        RecordingRelay relay(static_cast<std::uint16_t>(server.port));
        EXPECT_ANY_THROW(
            db::Connection::open(demoLogin(relay.port(), "off"), std::chrono::seconds(5)));
        db::Connection::open(demoLogin(relay.port(), "require"), std::chrono::seconds(5));
        EXPECT_NE(relay.serverBytes().find("demo.example"), std::string::npos);
    }
    {
        DemoProcess server({"--encryption", "none"});
        ASSERT_NE(server.port, 0u);
        EXPECT_ANY_THROW(
            db::Connection::open(demoLogin(static_cast<std::uint16_t>(server.port), "require"),
                                 std::chrono::seconds(5)));
        db::Connection::open(demoLogin(static_cast<std::uint16_t>(server.port), "off"),
                             std::chrono::seconds(5));
    }
}
