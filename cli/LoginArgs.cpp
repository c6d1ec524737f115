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

ArgResult takeLoginOption(const QStringList& args, qsizetype& i, LoginArgs& login, QString& error) {
    QString name = args.at(i);
    QString inlineValue;
    const bool hasInline = splitInlineValue(args.at(i), name, inlineValue);
    if (name == QLatin1String("--password") || name == QLatin1String("--pwd")) {
        error = QStringLiteral("the password is not taken from the command line, where others "
                               "can read it; set TALLOWBY_PASSWORD or answer the prompt");
        return ArgResult::Error;
    }
    std::optional<QString>* target = nullptr;
    if (name == QLatin1String("--server")) {
        target = &login.server;
    } else if (name == QLatin1String("--user")) {
        target = &login.user;
    } else if (name == QLatin1String("--database")) {
        target = &login.database;
    } else if (name != QLatin1String("--login-timeout") &&
               name != QLatin1String("--query-timeout")) {
        return ArgResult::NotMine;
    }
    QString value;
    if (!takeValue(args, i, name, hasInline, inlineValue, value, error)) {
        return ArgResult::Error;
    }
    if (target != nullptr) {
        *target = value;
        return ArgResult::Taken;
    }
    bool ok = false;
    const int seconds = value.toInt(&ok);
    if (!ok || seconds < 1 || seconds > 3600) {
        error = QStringLiteral("option %1 needs a number of seconds from 1 to 3600").arg(name);
        return ArgResult::Error;
    }
    (name == QLatin1String("--login-timeout") ? login.loginTimeout : login.queryTimeout) =
        std::chrono::seconds(seconds);
    return ArgResult::Taken;
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
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(usage, stdout);
            std::fputs(kLoginOptionsHelp, stdout);
            return 0;
        }
        bool isFlag = false;
        for (const auto& [name, value] : flags) {
            if (arg == QLatin1String(name)) {
                *value = true;
                isFlag = true;
            }
        }
        if (isFlag) {
            continue;
        }
        QString error;
        switch (takeLoginOption(args, i, login, error)) {
        case ArgResult::Taken:
            continue;
        case ArgResult::Error:
            printError(error);
            return 2;
        case ArgResult::NotMine:
            printError(QStringLiteral("unknown option '%1' (try --help)").arg(arg));
            return 2;
        }
    }
    return std::nullopt;
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
