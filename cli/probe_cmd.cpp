#include "LoginArgs.h"
#include "commands.h"
#include "db/Probe.h"

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
    if (const std::optional<int> status =
            parseLoginCommand(args, kUsage, login, {{"--verbose", &verbose}, {"-v", &verbose}})) {
        return *status;
    }

    const std::optional<db::ConnectionSettings> settings = resolveLoginOrReport(login);
    if (!settings) {
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
