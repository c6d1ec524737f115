#include "LoginArgs.h"
#include "commands.h"
#include "db/TableCatalogue.h"

#include <cstdio>
#include <exception>

namespace cli {

namespace {

constexpr Help kHelp{
    "Usage: tallowby-cli tables [OPTIONS]",
    "Prints the user tables of the database, one name a line, in the order and with the names\n"
    "the wizard's table page lists them (a name that two schemas hold as \"schema.name\"). On\n"
    "failure it prints the driver's message on standard error and exits with status 1.",
};

} // namespace

int runTables(const QStringList& args) {
    LoginArgs login;
    QCommandLineParser parser;
    if (const std::optional<int> status = parseLoginCommand(parser, args, kHelp, login)) {
        return *status;
    }

    const std::optional<db::ConnectionSettings> settings = resolveLoginOrReport(login);
    if (!settings) {
        return 2;
    }
    try {
        // All names are needed before the first is printed: whether a name is shown with its
        // schema depends on the names after it.
        const QStringList names =
            db::shownNames(MSSQL::ListTables(*settings, login.loginTimeout, login.queryTimeout));
        for (const QString& name : names) {
            const QByteArray line = name.toUtf8() + '\n';
            std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
        }
    } catch (const std::exception& e) {
        std::fflush(stdout);
        printError(describeFailure(e));
        return 1;
    }
    if (std::fflush(stdout) != 0) {
        printError(QStringLiteral("cannot write the list"));
        return 1;
    }
    return 0;
}

} // namespace cli
