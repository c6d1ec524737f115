#include "commands.h"

#include <QCommandLineParser>
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
    std::fputs("\nOptions:\n"
               "  -h, --help   print this help\n"
               "  --version    print the program's version\n"
               "\nRun 'tallowby-cli COMMAND --help' for the options of a command.\n",
               to);
}

} // namespace

void cli::printError(const QString& message) {
    std::fprintf(stderr, "tallowby-cli: %s\n", message.toLocal8Bit().constData());
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallowby-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLOWBY_VERSION));
    QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        printUsage(stderr);
        return 2;
    }
    // Only the options before the command are the program's own; the rest are the command's.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({help, version});
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QString());
    if (!parser.parse(args)) {
        cli::printError(parser.errorText() + QStringLiteral(" (try --help)"));
        return 2;
    }
    if (parser.isSet(help)) {
        printUsage(stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("tallowby-cli %s\n", TALLOWBY_VERSION);
        return 0;
    }
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty()) {
        printUsage(stderr);
        return 2;
    }
    const QString name = rest.takeFirst();
    for (const auto& command : kCommands) {
        if (name == QLatin1String(command.name.data(), qsizetype(command.name.size()))) {
            return command.run(rest);
        }
    }
    cli::printError(QStringLiteral("unknown command '%1' (try --help)").arg(name));
    return 2;
}
