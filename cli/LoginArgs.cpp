#include "LoginArgs.h"

#include "commands.h"
#include "db/SettingsStore.h"

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
    std::string line;
    int c = 0;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
        line.push_back(char(c));
    }
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    echoIsOff = 0;
    std::signal(SIGINT, oldInt);
    std::signal(SIGTERM, oldTerm);
    std::fputc('\n', stderr);
    if (c == EOF && line.empty()) {
        error = QStringLiteral("no password given");
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

} // namespace

void addLoginOptions(QCommandLineParser& parser) {
    for (const char* name : {"server", "user", "database"}) {
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("NAME")));
    }
    for (const char* name : {"login-timeout", "query-timeout"}) {
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("SEC")));
    }
}

bool readLoginOptions(const QCommandLineParser& parser, LoginArgs& login) {
    const std::pair<const char*, std::optional<QString>*> names[] = {
        {"server", &login.server}, {"user", &login.user}, {"database", &login.database}};
    for (const auto& [name, target] : names) {
        if (parser.isSet(QString::fromLatin1(name))) {
            *target = parser.value(QString::fromLatin1(name));
        }
    }
    const std::pair<const char*, std::chrono::seconds*> timeouts[] = {
        {"login-timeout", &login.loginTimeout}, {"query-timeout", &login.queryTimeout}};
    for (const auto& [name, target] : timeouts) {
        if (!parser.isSet(QString::fromLatin1(name))) {
            continue;
        }
        bool ok = false;
        const int seconds = parser.value(QString::fromLatin1(name)).toInt(&ok);
        if (!ok || seconds < 1 || seconds > 3600) {
            printError(QStringLiteral("option --%1 needs a number of seconds from 1 to 3600")
                           .arg(QString::fromLatin1(name)));
            return false;
        }
        *target = std::chrono::seconds(seconds);
    }
    return true;
}

std::optional<db::ConnectionSettings> resolveLogin(const LoginArgs& login,
                                                   const db::SettingsStore& store, QString& error) {
    db::ConnectionSettings settings = store.load();
    if (login.server) {
        settings.server = *login.server;
    }
    if (login.user) {
        settings.user = *login.user;
    }
    if (login.database) {
        settings.database = *login.database;
    }
    if (qEnvironmentVariableIsSet("TALLOWBY_PASSWORD")) {
        settings.password = qEnvironmentVariable("TALLOWBY_PASSWORD");
    } else if ((login.server || login.user) && ::isatty(STDIN_FILENO)) {
        std::optional<QString> typed = promptPassword(error);
        if (!typed) {
            return std::nullopt;
        }
        settings.password = *typed;
    }
    return settings;
}

std::optional<int> parseLoginCommand(const QStringList& args, const char* usage, LoginArgs& login,
                                     std::initializer_list<std::pair<const char*, bool*>> flags) {
    // The parser's names go without their dashes.
    const auto bare = [](const char* name) {
        QString text = QString::fromLatin1(name);
        while (text.startsWith(u'-')) {
            text.remove(0, 1);
        }
        return text;
    };
    QCommandLineParser parser;
    addLoginOptions(parser);
    for (const auto& flag : flags) {
        parser.addOption(QCommandLineOption(bare(flag.first)));
    }
    if (const std::optional<int> status =
            parseArguments(parser, args, std::string(usage) + kLoginOptionsHelp)) {
        return status;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("unknown argument '%1' (try --help)")
                       .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    for (const auto& [name, value] : flags) {
        if (parser.isSet(bare(name))) {
            *value = true;
        }
    }
    return readLoginOptions(parser, login) ? std::nullopt : std::optional<int>(2);
}

std::optional<db::ConnectionSettings> resolveLoginOrReport(const LoginArgs& login) {
    const db::SettingsStore store;
    QString error;
    std::optional<db::ConnectionSettings> settings = resolveLogin(login, store, error);
    if (!settings) {
        printError(error);
    }
    return settings;
}

} // namespace cli
