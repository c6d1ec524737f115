#include "LoginArgs.h"
#include "commands.h"
#include "db/Probe.h"
#include "db/SettingsStore.h"

#include <cstdio>

namespace cli {

namespace {

constexpr const char* kUsage =
    "Usage: tallowby-cli probe [OPTIONS]\n"
    "\n"
    "Tests a login as the wizard's \"Test Connection\" button does, and prints its answer:\n"
    "\"Connection successful.\" (exit status 0) or \"Could not connect. Please check with your\n"
    "administrator.\" (exit status 1).\n"
    "\n"
    "Options:\n"
    "  --verbose             on failure, also print the driver's diagnostic on standard error\n";

} // namespace

int runProbe(const QStringList& args) {
    LoginArgs login;
    bool verbose = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            std::fputs(kLoginOptionsHelp, stdout);
            return 0;
        }
        if (arg == QLatin1String("--verbose") || arg == QLatin1String("-v")) {
            verbose = true;
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

    const db::SettingsStore store;
    QString error;
    const std::optional<db::ConnectionSettings> settings = resolveLogin(login, store, error);
    if (!settings) {
        printError(error);
        return 2;
    }
    const db::ConnectionTestResult result = db::testConnection(*settings, login.loginTimeout);
    std::printf("%s\n", result.message.toLocal8Bit().constData());
    if (!result.ok && verbose) {
        printError(result.diagnostic);
    }
    return result.ok ? 0 : 1;
}

} // namespace cli
