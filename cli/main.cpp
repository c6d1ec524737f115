#include "commands.h"

#include <QCoreApplication>
#include <array>
#include <cstdio>

namespace {

constexpr std::array kCommands{
    cli::Command{"convert", "convert delimited text to XML", &cli::runConvert},
    cli::Command{"extract", "write a table as delimited text", &cli::runExtract},
    cli::Command{"export", "write a table as XML", &cli::runExport},
    cli::Command{"probe", "test a login to the database", &cli::runProbe},
    cli::Command{"tables", "list the database's user tables", &cli::runTables},
};

void printUsage(std::FILE* to) {
    std::fputs("Usage: tallowby-cli COMMAND [OPTIONS]\n\nCommands:\n", to);
    for (const auto& command : kCommands) {
        std::fprintf(to, "  %-10.*s %.*s\n", static_cast<int>(command.name.size()),
                     command.name.data(), static_cast<int>(command.summary.size()),
                     command.summary.data());
    }
    std::fputs("\nRun 'tallowby-cli COMMAND --help' for the options of a command.\n", to);
}

} // namespace

void cli::printError(const QString& message) {
    std::fprintf(stderr, "tallowby-cli: %s\n", message.toLocal8Bit().constData());
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallowby-cli"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        printUsage(stderr);
        return 2;
    }
    const QString name = args.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        printUsage(stdout);
        return 0;
    }
    for (const auto& command : kCommands) {
        if (name == QLatin1String(command.name.data(), qsizetype(command.name.size()))) {
            return command.run(args);
        }
    }
    cli::printError(QStringLiteral("unknown command '%1' (try --help)").arg(name));
    return 2;
}
