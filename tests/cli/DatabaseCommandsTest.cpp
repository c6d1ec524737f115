#include "DatabaseCommandsTest.h"

namespace {

using CommandsOnBothBackends = OnBothBackends<DatabaseCommandsTest>;

TEST_P(CommandsOnBothBackends, ProbeTellsTheTestsMessageAndVerboseAddsTheDriversReason) {
    CliResult r = runCli(loginArgs("probe"), {}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.out, QByteArray("Connection successful.\n"));
    EXPECT_EQ(r.err, QByteArray());

    const QByteArray wrong = (backend->login().password + u("-wrong")).toUtf8();
    for (const QStringList& verbose : {QStringList{}, QStringList{u("--verbose")}}) {
        r = runCli(loginArgs("probe") << verbose, {}, environment(wrong.constData()));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, QByteArray("Could not connect. Please check with your administrator.\n"));
        EXPECT_EQ(r.err.isEmpty(), verbose.isEmpty()) << r.err.constData();
    }
    EXPECT_TRUE(r.err.startsWith("tallowby-cli: connect failed: ")) << r.err.constData();
    EXPECT_TRUE(r.err.contains("Login failed for user '" + backend->login().user.toUtf8() + "'"))
        << r.err.constData();
}

TALLOWBY_ON_BOTH_BACKENDS(CommandsOnBothBackends);

// The wizard's last login works from the command line as it stands, password included, and an
// option replaces just its own value. Standard input is no terminal here, so nothing is asked.
TEST_F(DatabaseCommandsTest, ValuesNotGivenComeFromTheWizardsStore) {
    storeLogin({address(), u("demo"), u("demo"), u("elsewhere")});
    CliResult r = runCli({u("probe")}, {}, environment(nullptr));
    EXPECT_EQ(r.exitCode, 1) << "the stored database does not exist";

    r = runCli({u("probe"), u("--database=shop")}, {}, environment(nullptr));
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    const auto logins = server.logins();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(logins[1].user, "demo");
    EXPECT_EQ(logins[1].password, "demo");
    EXPECT_EQ(logins[1].database, "shop");

    // The environment's password wins over the stored one.
    r = runCli({u("probe"), u("--database=shop")}, {}, environment("other"));
    EXPECT_EQ(r.exitCode, 1);
}

// A name that two schemas hold is shown with its schema, wherever the second one stands.
TEST_F(DatabaseCommandsTest, TablesListsTheNamesAsThePageWould) {
    server.setCatalog("shop", {{"dbo", "Zeta"},
                               {"dbo", "Recent", "VIEW"},
                               {"sales", "Größe"},
                               {"dbo", "Systems"},
                               {"dbo", "Customers"},
                               {"sales", "Zeta"},
                               {"sales", "Customers"},
                               {"sales", "Recent"}});
    const CliResult r = runCli(loginArgs("tables"), {}, environment("demo"));
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.out, QByteArray("dbo.Zeta\nGröße\ndbo.Customers\nsales.Zeta\nsales.Customers\n"
                                "Recent\n"));
    EXPECT_EQ(r.err, QByteArray());
}

// Without a driver registered as "SQL Server" (or with its library gone), the user is told what
// to install instead of the file the driver manager tried.
TEST_F(DatabaseCommandsTest, MissingDriverIsNamedWithHowToInstallIt) {
    QTemporaryDir odbc;
    ASSERT_TRUE(odbc.isValid());
    const QString ini = odbc.filePath(QStringLiteral("odbcinst.ini"));
    ASSERT_TRUE(writeFile(odbc.filePath(QStringLiteral("odbc.ini")), ""));
    QProcessEnvironment env = environment("demo");
    env.insert(QStringLiteral("ODBCSYSINI"), odbc.path());
    for (const QByteArray& registered :
         {QByteArray("[SQLite3]\nDriver = /nonexistent/libsqlite3odbc.so\n"),
          QByteArray("[SQL Server]\nDriver = /nonexistent/libtdsodbc.so\n")}) {
        ASSERT_TRUE(writeFile(ini, registered));
        const CliResult r = runCli(loginArgs("export") << QStringLiteral("--table=T"), {}, env);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.startsWith("tallowby-cli: connect failed: the ODBC driver \"SQL "
                                     "Server\" is not installed: install Debian's package "
                                     "tdsodbc, then register it under that name with "
                                     "scripts/install-driver"))
            << r.err.constData();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
    }
    EXPECT_TRUE(server.logins().empty());
}

// Option errors beyond the general ones of CliProgram; none of them may reach the server. A
// password is never taken from the command line.
TEST_F(DatabaseCommandsTest, UsageErrorsExitWithTwo) {
    // The table's text is always joined by "," under its column names: reading it in another
    // way would give XML that no "Finish" writes.
    const struct {
        const char* command;
        QStringList options;
        const char* says;
    } cases[] = {
        {"probe", {u("--password=demo")}, "set TALLOWBY_PASSWORD"},
        {"probe", {u("--login-timeout=0")}, ""},
        {"export", {}, ""}, // no --table
        {"export", {u("--table=T"), u("--nulls=none")}, ""},
        {"export", {u("--table=T"), u("--separator"), u(";")}, "--separator is for convert"},
        {"extract", {u("--table=T"), u("--separator=;")}, "--separator is for convert"},
        {"export", {u("--table=T"), u("--no-header")}, "--no-header is for convert"},
        {"extract", {u("--table=T"), u("--no-header")}, "--no-header is for convert"}};
    for (const auto& c : cases) {
        const CliResult r = runCli(loginArgs(c.command) << c.options, {}, environment("demo"));
        EXPECT_EQ(r.exitCode, 2) << c.command;
        EXPECT_TRUE(r.err.startsWith("tallowby-cli: ") && r.err.contains(c.says))
            << r.err.constData();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
    }
    EXPECT_TRUE(server.logins().empty());
}

// A certificate the user has not trusted: every command refuses before the login, says why and
// how to trust it; `trust` pins it only when the fingerprint given is the server's, lists it and
// removes it.
TEST_F(DatabaseCommandsTest, UntrustedCertificateIsRefusedUntilTrustedByItsFingerprint) {
    const db::TrustedCertificates pins(
        db::TrustedCertificates::folderBeside(config.filePath(QStringLiteral("Quorvane.conf"))));
    pins.remove(db::parseServerAddress(address()));
    const QString fingerprint = db::sha256Fingerprint(derOf(certificatePem));

    CliResult r = runCli(loginArgs("tables"), {}, environment());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("is not trusted: it is self-signed")) << r.err.constData();
    EXPECT_TRUE(r.err.contains(
        (u("tallowby-cli trust --server '") + address() + u("' --fingerprint ") + fingerprint)
            .toUtf8()))
        << r.err.constData();
    EXPECT_TRUE(server.logins().empty());

    const QStringList trust{u("trust"), u("--server"), address()};
    r = runCli(trust, {}, environment());
    EXPECT_EQ(r.exitCode, 2) << "no terminal to ask on, and no fingerprint";
    r = runCli(trust +
                   QStringList{u("--fingerprint"), db::sha256Fingerprint(QByteArray("another"))},
               {}, environment());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("not the one given")) << r.err.constData();
    EXPECT_FALSE(pins.find(db::parseServerAddress(address())).has_value());

    QString bare = fingerprint.mid(7).toLower();
    bare.remove(u':');
    r = runCli(trust + QStringList{u("--fingerprint"), bare}, {}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    r = runCli({u("trust"), u("--list")}, {}, environment());
    EXPECT_EQ(r.out, (address() + u' ' + fingerprint + u'\n').toUtf8());
    r = runCli(loginArgs("tables"), {}, environment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();

    r = runCli(trust + QStringList{u("--remove")}, {}, environment());
    EXPECT_EQ(r.exitCode, 0);
    r = runCli(trust + QStringList{u("--remove")}, {}, environment());
    EXPECT_EQ(r.exitCode, 1) << "nothing left to remove";
}

// A server without encryption gets no login unless this run allows it.
TEST_F(DatabaseCommandsTest, ServerWithoutEncryptionNeedsAllowUnencrypted) {
    tdsserver::Server clear(
        tdsserver::Config{.encryption = tdsserver::Config::Encryption::None, .log = {}});
    clear.addDatabase("shop", ":memory:");
    const QString elsewhere = QStringLiteral("127.0.0.1,%1").arg(clear.start());
    const QStringList probe{u("probe"), u("--server"),   elsewhere, u("--user"),
                            u("demo"),  u("--database"), u("shop"), u("--login-timeout=5")};
    CliResult r = runCli(probe, {}, environment("demo"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("offers no encryption")) << r.err.constData();
    EXPECT_TRUE(r.err.contains("--allow-unencrypted")) << r.err.constData();
    EXPECT_TRUE(clear.logins().empty());
    r = runCli(probe + QStringList{u("--allow-unencrypted")}, {}, environment("demo"));
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(clear.logins().size(), 1u);
    clear.stop();
}

} // namespace
