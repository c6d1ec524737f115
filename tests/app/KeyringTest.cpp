// The password in a real Secret Service (GNOME's keyring, in the D-Bus session that
// in-keyring-session makes for this run): never in a file, never sent to another login.

#include "CancelledProgram.h"
#include "CliRunner.h"
#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSecret = QStringLiteral("Qv7-only-in-the-keyring");

tdsserver::Config withSecret() {
    tdsserver::Config config;
    config.password = kSecret.toStdString();
    return config;
}

class KeyringTest : public WizardTest {
protected:
    KeyringTest() : WizardTest(withSecret()) {}

    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            << "run through in-keyring-session";
        WizardTest::SetUp();
        // The command line below reads its settings, and so its trusted certificates, there.
        trustServerIn(db::TrustedCertificates(db::TrustedCertificates::folderBeside(
            folder.filePath(QStringLiteral("Quorvane.conf")))));
    }

    db::ConnectionSettings secretLogin() const {
        db::ConnectionSettings settings = login();
        settings.password = kSecret;
        return settings;
    }

    // The keyring's entry for the store in `file`, as another program reads it.
    static QByteArray lookUp(const QString& file) {
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"),
                   {QStringLiteral("lookup"), QStringLiteral("server"), QStringLiteral("Tallowby"),
                    QStringLiteral("user"), QStringLiteral("MyPassword@") + file});
        EXPECT_TRUE(tool.waitForFinished(10'000));
        return tool.readAllStandardOutput();
    }

    QProcessEnvironment cliEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.path());
        env.remove(QStringLiteral("TALLOWBY_PASSWORD"));
        return env;
    }
};

// Typed by key events, kept in the keyring as the program ends, read from there at the next
// start (which opens on the table page), and found in no file that the wizard, the command line
// or the test wrote: not as UTF-8, not as UTF-16LE, not in base64.
TEST_F(KeyringTest, TheWizardKeepsThePasswordInTheKeyringAndNowhereElse) {
    app::Form1& page = start().form1();
    ASSERT_TRUE(page.isVisible());
    const db::ConnectionSettings typed = secretLogin();
    QTest::keyClicks(page.Text1, typed.server);
    QTest::keyClicks(page.Text2, typed.user);
    QTest::keyClicks(page.Text3, typed.password);
    QTest::keyClicks(page.Text4, typed.database);
    wizard.reset();
    store.reset(); // the program's end: the last keystroke's value is written by now
    EXPECT_EQ(lookUp(storePath()), kSecret.toUtf8());
    const QByteArray file = readFile(storePath());
    EXPECT_TRUE(file.contains("MyUser=" + typed.user.toUtf8())) << file.constData();
    EXPECT_FALSE(file.contains("MyPassword=")) << file.constData();

    store = std::make_unique<db::SettingsStore>(storePath());
    start();
    ASSERT_NE(madePage<app::Form2>(), nullptr);
    EXPECT_TRUE(madePage<app::Form2>()->isVisible());
    EXPECT_EQ(server.logins().back().password, kSecret.toStdString());
    EXPECT_TRUE(host.messages.empty());
    wizard.reset();
    store.reset();

    const QString output = path("out.xml");
    const CliResult r = runCli({QStringLiteral("export"), QStringLiteral("--table=Customers"),
                                QStringLiteral("-o"), output},
                               {}, cliEnvironment());
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    ASSERT_TRUE(QFile::exists(output));

    const QByteArray forms[] = {
        kSecret.toUtf8(),
        QByteArray(reinterpret_cast<const char*>(kSecret.utf16()), kSecret.size() * 2),
        kSecret.toUtf8().toBase64(QByteArray::OmitTrailingEquals)};
    int files = 0;
    for (const QString& root : {folder.path(), QDir::tempPath(),
                                qEnvironmentVariable("HOME") + QStringLiteral("/.config"),
                                qEnvironmentVariable("XDG_RUNTIME_DIR")}) {
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString name = it.next();
            const QByteArray bytes = readFile(name);
            ++files;
            for (const QByteArray& form : forms)
                EXPECT_FALSE(bytes.contains(form)) << name.toStdString();
        }
    }
    EXPECT_GE(files, 2); // the settings and the export at least
}

// Typed just before "Cancel" while the login waits for a server that never answers: the
// process ends without waiting for that login, but not before the keyring has the password.
TEST_F(KeyringTest, APasswordTypedJustBeforeCancelIsKeptAsTheProcessEndsAtOnce) {
    server.neverAnswer(true);
    cancelled::storeSettings(folder.path(), cancelled::failingAtOnce(login()), address(),
                             derOf(certificatePem));
    const cancelled::Outcome outcome =
        cancelled::run(QStringLiteral(TALLOWBY_PROGRAM_TESTS_PATH), cancelled::Wait::Login,
                       address(), folder.path(), std::chrono::seconds(5), kSecret);
    ASSERT_TRUE(outcome.pressToEnd.has_value()) << outcome.output.toStdString();
    EXPECT_TRUE(outcome.pressedWhileWaiting) << outcome.output.toStdString();
    EXPECT_TRUE(outcome.ended) << outcome.output.toStdString();
    EXPECT_EQ(lookUp(storePath()), kSecret.toUtf8());
    EXPECT_FALSE(readFile(storePath()).contains("MyPassword="));
}

// A store written before the keyring was used: the password moves into the keyring and out of
// the file. Where the file cannot be rewritten, the keyring gives the password back and the
// file keeps it, and the user is told once.
TEST_F(KeyringTest, AnOlderFilesPasswordMovesIntoTheKeyring) {
    const QByteArray older = "[Brisklet]\nMyServer=s\nMyUser=u\nMyPassword=older\nMyDatabase=d\n";
    const QString moved = path("moved.conf");
    ASSERT_TRUE(writeFile(moved, older));
    EXPECT_EQ(db::SettingsStore(moved).load(),
              (db::ConnectionSettings{u("s"), u("u"), u("older"), u("d")}));
    EXPECT_EQ(lookUp(moved), QByteArray("older"));
    EXPECT_FALSE(readFile(moved).contains("older"));
    EXPECT_TRUE(readFile(moved).contains("MyServer=s"));
    EXPECT_EQ(db::SettingsStore(moved).value(db::SettingKey::Password), u("older"));

    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the file to another user needs root";
    const QString kept = path("kept.conf");
    ASSERT_TRUE(writeFile(kept, older));
    ASSERT_EQ(::chown(QFile::encodeName(kept).constData(), 65534, 65534), 0);
    db::SettingsStore foreign(kept);
    QStringList reports;
    foreign.setFailureReporter([&](const QString& message) { reports << message; });
    EXPECT_EQ(foreign.value(db::SettingKey::Password), u("older"));
    foreign.setValue(db::SettingKey::Password, u("typed"));
    EXPECT_EQ(readFile(kept), older);
    EXPECT_EQ(lookUp(kept), QByteArray());
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains(QStringLiteral("it belongs to another user")))
        << reports[0].toStdString();
}

// The command line reads the keyring as the wizard does, and keeps the stored password for the
// stored server and user: another server gets no login at all without a password of its own.
TEST_F(KeyringTest, TheCommandLineSendsTheStoredPasswordOnlyToItsOwnServer) {
    storeLogin(secretLogin());
    store.reset();
    CliResult r = runCli({QStringLiteral("probe")}, {}, cliEnvironment());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    ASSERT_FALSE(server.logins().empty());
    EXPECT_EQ(server.logins().back().password, kSecret.toStdString());

    tdsserver::Config otherConfig = withSecret();
    withCertificate(otherConfig);
    tdsserver::Server other(otherConfig);
    other.addDatabase("shop", ":memory:");
    const QString elsewhere = QStringLiteral("127.0.0.1,%1").arg(other.start());
    db::TrustedCertificates(
        db::TrustedCertificates::folderBeside(folder.filePath(QStringLiteral("Quorvane.conf"))))
        .pin(db::parseServerAddress(elsewhere), derOf(otherConfig.certificatePem));
    r = runCli({QStringLiteral("probe"), QStringLiteral("--server"), elsewhere}, {},
               cliEnvironment());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("the stored one is only for its own server and user"))
        << r.err.constData();
    r = runCli({QStringLiteral("probe"), QStringLiteral("--user"), QStringLiteral("other")}, {},
               cliEnvironment());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(other.logins().empty());

    // A script gives the other server's password on standard input.
    r = runCli({QStringLiteral("probe"), QStringLiteral("--server"), elsewhere,
                QStringLiteral("--password-stdin")},
               "its-own\n", cliEnvironment());
    EXPECT_EQ(r.exitCode, 1); // the test server takes only its own password
    ASSERT_EQ(other.logins().size(), 1u);
    EXPECT_EQ(other.logins()[0].password, "its-own");
    other.stop();

    // Without the desktop's session (over SSH, say) the keyring cannot be reached: said so.
    const std::size_t before = server.logins().size();
    QProcessEnvironment away = cliEnvironment();
    away.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                QStringLiteral("unix:path=/nonexistent/session"));
    r = runCli({QStringLiteral("probe")}, {}, away);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("the stored password is in the desktop's keyring, which cannot be "
                               "reached from here"))
        << r.err.constData();
    EXPECT_EQ(server.logins().size(), before);
}

} // namespace
