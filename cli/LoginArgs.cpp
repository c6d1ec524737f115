#include "LoginArgs.h"

#include "commands.h"
#include "db/Login.h"
#include "db/SettingsStore.h"
#include "db/TrustedCertificates.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

// The terminal's settings while echo is off, so that an interrupt can put them back.
termios savedTerminal{};
volatile std::sig_atomic_t echoIsOff = 0;

extern "C" void restoreEchoAndDie(int signalNumber) {
    if (echoIsOff != 0) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// One line from standard input, without its line break; empty when there is none at all.
std::optional<QString> readLine() {
    std::string line;
    int c = 0;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
        line.push_back(char(c));
    }
    if (c == EOF && line.empty()) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

// Asks for the password on the terminal without echo. Empty when it cannot.
std::optional<QString> promptPassword(QString& error) {
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) {
        error = QStringLiteral("cannot switch off the terminal's echo");
        return std::nullopt;
    }
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    const auto oldInt = std::signal(SIGINT, restoreEchoAndDie);
    const auto oldTerm = std::signal(SIGTERM, restoreEchoAndDie);
    echoIsOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::optional<QString> line = readLine();
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    echoIsOff = 0;
    std::signal(SIGINT, oldInt);
    std::signal(SIGTERM, oldTerm);
    std::fputc('\n', stderr);
    if (!line) {
        error = QStringLiteral("no password given");
    }
    return line;
}

constexpr const char* kPasswordSources =
    "give it in TALLOWBY_PASSWORD, on one line of standard input with --password-stdin, or run "
    "on a terminal to be asked for it";

} // namespace

void addLoginOptions(QCommandLineParser& parser) {
    const auto option = [](const char* name, const char* about, const char* valueName) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(about),
                                  QString::fromLatin1(valueName));
    };
    parser.addOptions(
        {option("server",
                "the server, as the wizard takes it (\"host\", \"host,port\", "
                "\"host\\instance\")",
                "NAME"),
         option("user", "the user name", "NAME"), option("database", "the database", "NAME"),
         QCommandLineOption(QStringLiteral("password-stdin"),
                            QStringLiteral("read the password from the first line of standard "
                                           "input")),
         QCommandLineOption(QStringLiteral("allow-unencrypted"),
                            QStringLiteral("for this run only, log in to a server that offers no "
                                           "encryption (the password crosses the network "
                                           "readable)")),
         option("login-timeout", "how long to wait for the server to log us in (default 15)",
                "SEC"),
         option("query-timeout",
                "how long the server may send nothing before the command fails (default 30)",
                "SEC")});
}

bool readLoginOptions(const QCommandLineParser& parser, LoginArgs& login) {
    const std::pair<const char*, std::optional<QString>*> names[] = {
        {"server", &login.server}, {"user", &login.user}, {"database", &login.database}};
    for (const auto& [name, target] : names) {
        if (parser.isSet(QString::fromLatin1(name))) {
            *target = parser.value(QString::fromLatin1(name));
        }
    }
    login.passwordFromStdin = parser.isSet(QStringLiteral("password-stdin"));
    login.allowUnencrypted = parser.isSet(QStringLiteral("allow-unencrypted"));
    return readSeconds(parser, "login-timeout", login.loginTimeout) &&
           readSeconds(parser, "query-timeout", login.queryTimeout);
}

bool readSeconds(const QCommandLineParser& parser, const char* name,
                 std::chrono::seconds& seconds) {
    if (!parser.isSet(QString::fromLatin1(name))) {
        return true;
    }
    bool ok = false;
    const int value = parser.value(QString::fromLatin1(name)).toInt(&ok);
    if (!ok || value < 1 || value > 3600) {
        printError(QStringLiteral("option --%1 needs a number of seconds from 1 to 3600")
                       .arg(QString::fromLatin1(name)));
        return false;
    }
    seconds = std::chrono::seconds(value);
    return true;
}

std::optional<db::ConnectionSettings> resolveLogin(const LoginArgs& login, db::SettingsStore& store,
                                                   QString& error) {
    const db::ConnectionSettings stored = store.load();
    db::ConnectionSettings settings = stored;
    if (login.server) {
        settings.server = *login.server;
    }
    if (login.user) {
        settings.user = *login.user;
    }
    if (login.database) {
        settings.database = *login.database;
    }
    if (login.allowUnencrypted) {
        settings.encryption = db::Encryption::AllowUnencrypted;
    }
    // The stored password is for the stored server and user only: never handed to another.
    const bool storedLogin = settings.server == stored.server && settings.user == stored.user;
    settings.password.clear();
    if (qEnvironmentVariableIsSet("TALLOWBY_PASSWORD")) {
        settings.password = qEnvironmentVariable("TALLOWBY_PASSWORD");
    } else if (login.passwordFromStdin) {
        std::optional<QString> line = readLine();
        if (!line) {
            error = QStringLiteral("--password-stdin: standard input holds no line");
            return std::nullopt;
        }
        settings.password = *line;
    } else if (storedLogin && store.passwordUnreachable().isEmpty()) {
        settings.password = stored.password;
    } else if (::isatty(STDIN_FILENO)) {
        std::optional<QString> typed = promptPassword(error);
        if (!typed) {
            return std::nullopt;
        }
        settings.password = *typed;
    } else {
        const QString unreachable = store.passwordUnreachable();
        error =
            storedLogin
                ? QStringLiteral("the stored password is in the desktop's keyring, which "
                                 "cannot be reached from here (%1); %2")
                      .arg(unreachable, QString::fromLatin1(kPasswordSources))
                : QStringLiteral("no password for user '%1' on server '%2' (the stored one "
                                 "is only for its own server and user); %3")
                      .arg(settings.user, settings.server, QString::fromLatin1(kPasswordSources));
        return std::nullopt;
    }
    return settings;
}

std::optional<int> parseLoginCommand(QCommandLineParser& parser, const QStringList& args, Help help,
                                     LoginArgs& login) {
    addLoginOptions(parser);
    help.after = kLoginHelp;
    if (const std::optional<int> status = parseArguments(parser, args, help)) {
        return status;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("unknown argument '%1' (try --help)")
                       .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    return readLoginOptions(parser, login) ? std::nullopt : std::optional<int>(2);
}

QString describeCertificate(const db::CertificateCheck& check) {
    QString text = check.describe();
    {
        if (check.trust == db::ServerTrust::NotTrusted ||
            check.trust == db::ServerTrust::PinChanged) {
            text += QStringLiteral(" If you know this certificate to be the server's, trust it "
                                   "with: tallowby-cli trust --server '%1' --fingerprint %2")
                        .arg(check.server, db::sha256Fingerprint(check.presented->der));
        } else if (check.trust == db::ServerTrust::NoEncryption) {
            text += QStringLiteral(" To log in all the same, for this run only: "
                                   "--allow-unencrypted.");
        }
    }
    return text;
}

QString describeFailure(const std::exception& failure) {
    if (const auto* refused = dynamic_cast<const db::CertificateError*>(&failure))
        return describeCertificate(refused->check());
    return QString::fromUtf8(failure.what());
}

std::optional<db::ConnectionSettings> resolveLoginOrReport(const LoginArgs& login) {
    db::SettingsStore store;
    QString error;
    std::optional<db::ConnectionSettings> settings = resolveLogin(login, store, error);
    if (!settings) {
        printError(error);
    }
    return settings;
}

} // namespace cli
