#include "LoginArgs.h"
#include "commands.h"
#include "db/Probe.h"

#include <cstdio>

namespace cli {

namespace {

constexpr Help kHelp{
    "Usage: tallowby-cli probe [OPTIONS]",
    "Tests a login as the wizard's \"Test Connection\" button does, and prints its answer:\n"
    "\"Connection successful.\" (exit status 0) or \"Could not connect. Please check with your\n"
    "administrator.\" (exit status 1).",
};

} // namespace

int runProbe(const QStringList& args) {
    LoginArgs login;
    QCommandLineParser parser;
    const QCommandLineOption verbose(
        {QStringLiteral("v"), QStringLiteral("verbose")},
        QStringLiteral("on failure, also print the driver's diagnostic on standard error"));
    parser.addOption(verbose);
    if (const std::optional<int> status = parseLoginCommand(parser, args, kHelp, login)) {
        return *status;
    }

    const std::optional<db::ConnectionSettings> settings = resolveLoginOrReport(login);
    if (!settings) {
        return 2;
    }
    const db::ConnectionTestResult result = db::testConnection(*settings, login.loginTimeout);
    std::printf("%s\n", result.message.toLocal8Bit().constData());
    if (result.certificate) {
        // Not a login that failed: one that was not sent, and the user has a choice to make.
        printError(describeCertificate(*result.certificate));
    } else if (!result.ok && parser.isSet(verbose)) {
        printError(result.diagnostic);
    }
    return result.ok ? 0 : 1;
}

} // namespace cli
