#include "TerminalProgress.h"
#include "commands.h"
#include "db/DriverSetup.h"
#include "db/Error.h"

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
    cli::Command{"trust", "trust a server's certificate, list or remove those trusted",
                 &cli::runTrust},
};

// The commands, for the program's own --help.
QString commandList() {
    QString text = QStringLiteral("\nCommands:\n");
    for (const auto& command : kCommands) {
        text += QStringLiteral("  %1 %2\n")
                    .arg(QLatin1String(command.name.data(), qsizetype(command.name.size())), -10)
                    .arg(QLatin1String(command.summary.data(), qsizetype(command.summary.size())));
    }
    return text + QStringLiteral("\nRun 'tallowby-cli COMMAND --help' for the options of a "
                                 "command.");
}

void printUsage(const QCommandLineParser& parser, std::FILE* to) {
    QString text = parser.helpText();
    text.replace(0, text.indexOf(u'\n'), QStringLiteral("Usage: tallowby-cli COMMAND [OPTIONS]"));
    std::fputs(text.toLocal8Bit().constData(), to);
}

} // namespace

void cli::printError(const QString& message) {
    clearProgressLine();
    std::fprintf(stderr, "tallowby-cli: %s\n", message.toLocal8Bit().constData());
}

int main(int argc, char** argv) {
    // Before the application object, which may start threads of its own.
    try {
        db::prepareDriverEnvironment();
    } catch (const db::Error& e) {
        std::fprintf(stderr, "tallowby-cli: %s\n", e.what());
        return 1;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallowby-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLOWBY_VERSION));
    const QStringList args = QCoreApplication::arguments();
    // Only the options before the command are the program's own; the rest are the command's.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.setApplicationDescription(commandList());
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("print this help"));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("print the program's version"));
    parser.addOptions({help, version});
    if (args.size() < 2) {
        printUsage(parser, stderr);
        return 2;
    }
    if (!parser.parse(args)) {
        cli::printError(parser.errorText() + QStringLiteral(" (try --help)"));
        return 2;
    }
    if (parser.isSet(help)) {
        printUsage(parser, stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("tallowby-cli %s\n", TALLOWBY_VERSION);
        return 0;
    }
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty()) {
        printUsage(parser, stderr);
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
