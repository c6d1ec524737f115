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
    "the wizard's table page lists them. On failure it prints the driver's message on standard\n"
    "error and exits with status 1.",
};

// Prints each table as soon as the catalogue gives it.
class PrintingSink final : public db::TableListSink {
public:
    void clear() override {}
    void append(const db::TableEntry& entry) override {
        const QByteArray line = entry.name.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    }
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
    PrintingSink sink;
    try {
        MSSQL::ListTables(*settings, sink, db::noProgress(), login.loginTimeout,
                          login.queryTimeout);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        printError(QString::fromUtf8(e.what()));
        return 1;
    }
    if (std::fflush(stdout) != 0) {
        printError(QStringLiteral("cannot write the list"));
        return 1;
    }
    return 0;
}

} // namespace cli
