#include "ConversionArgs.h"
#include "LoginArgs.h"
#include "TerminalProgress.h"
#include "commands.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"
#include "db/Error.h"
#include "db/TableCatalogue.h"
#include "output/OutputStream.h"
#include "output/TableExport.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <unistd.h>

namespace cli {

namespace {

enum class Mode { Extract, Export };

constexpr Help kExtractHelp{
    "Usage: tallowby-cli extract --table NAME [--schema NAME] [OPTIONS]",
    "Reads the whole table and writes it as delimited text, exactly as the wizard's options page\n"
    "holds it: the column names, then one line per row, values joined by \",\" (quoted with '\"'\n"
    "when they hold a comma, a quote or a line break), CR LF between lines and none after the\n"
    "last.\n"
    "\n"
    "Delimited text cannot tell a NULL from an empty value: both are written as nothing. To keep\n"
    "them apart, use export and its NULL forms (see 'tallowby-cli export --help').\n"
    "\n"
    "When standard error is a terminal, it shows the rows read so far and ends with one line\n"
    "of rows, bytes and time (not with --quiet).",
};

constexpr Help kExportHelp{
    "Usage: tallowby-cli export --table NAME [--schema NAME] [OPTIONS]",
    "Reads the whole table and writes its XML followed by CR LF, byte for byte what the wizard's\n"
    "\"Finish\" writes for an unedited preview. The rows stream from the database to the file,\n"
    "so memory stays flat however large the table.\n"
    "\n"
    "When standard error is a terminal, it shows the rows read so far and ends with one line\n"
    "of rows, bytes and time (not with --quiet).",
};

struct TableArgs {
    QString table;
    std::optional<QString> schema;
    QString output;
    bool force = false;
    bool quiet = false;
    CSVXML::ConversionOptions options;
    LoginArgs login;
};

std::optional<CSVXML::NullForm> nullFormNamed(const QString& name) {
    if (name == QLatin1String("empty")) {
        return CSVXML::NullForm::Empty;
    }
    if (name == QLatin1String("omit")) {
        return CSVXML::NullForm::Omit;
    }
    if (name == QLatin1String("nil")) {
        return CSVXML::NullForm::Nil;
    }
    return std::nullopt;
}

// Parses the arguments; returns an exit status when the command ends here (help, usage error).
std::optional<int> parse(const QStringList& args, Mode mode, TableArgs& out) {
    const char* const command = mode == Mode::Extract ? "extract" : "export";
    QCommandLineParser parser;
    parser.addOptions({
        QCommandLineOption(QStringLiteral("table"),
                           QStringLiteral("the table: any user table of that name, also one "
                                          "that the wizard's list leaves out; the first one the "
                                          "catalogue gives unless --schema is given"),
                           QStringLiteral("NAME")),
        QCommandLineOption(QStringLiteral("schema"),
                           QStringLiteral("the table's schema (the table is then read without a "
                                          "catalogue look-up)"),
                           QStringLiteral("NAME")),
    });
    addOutputOptions(parser);
    parser.addOption(QCommandLineOption(
        {QStringLiteral("q"), QStringLiteral("quiet")},
        QStringLiteral("show no progress and no summary on a terminal; only warnings and errors")));
    addTextOptions(parser, TextInput::Refused);
    if (mode == Mode::Export) {
        addConversionOptions(parser);
        parser.addOption(QCommandLineOption(
            QStringLiteral("nulls"),
            QStringLiteral("how a NULL value is written: empty (an empty element, as for an empty "
                           "text; the default and what the wizard writes), omit (no element) or "
                           "nil (<name xsi:nil=\"true\"/>, the xsi namespace declared on the "
                           "root)"),
            QStringLiteral("FORM")));
    }
    if (const std::optional<int> status = parseLoginCommand(
            parser, args, mode == Mode::Extract ? kExtractHelp : kExportHelp, out.login)) {
        return status;
    }
    if (!readTextOptions(parser, TextInput::Refused, command, out.options)) {
        return 2;
    }
    out.table = parser.value(QStringLiteral("table"));
    if (parser.isSet(QStringLiteral("schema"))) {
        out.schema = parser.value(QStringLiteral("schema"));
    }
    out.output = parser.value(QStringLiteral("output"));
    out.force = parser.isSet(QStringLiteral("force"));
    out.quiet = parser.isSet(QStringLiteral("quiet"));
    if (mode == Mode::Export) {
        readConversionOptions(parser, out.options);
        if (parser.isSet(QStringLiteral("nulls"))) {
            const QString nulls = parser.value(QStringLiteral("nulls"));
            const std::optional<CSVXML::NullForm> form = nullFormNamed(nulls);
            if (!form) {
                printError(QStringLiteral("--nulls takes empty, omit or nil, not '%1'").arg(nulls));
                return 2;
            }
            out.options.nulls = *form;
        }
    }
    if (out.table.isEmpty()) {
        printError(QStringLiteral("--table NAME is required (try --help)"));
        return 2;
    }
    return std::nullopt;
}

// The table named on the command line: the user's explicit choice, so any user table of that
// name (the first one the catalogue gives), also one the table page's list leaves out.
std::optional<db::TableEntry> findTable(const db::ConnectionSettings& settings,
                                        const TableArgs& args) {
    if (args.schema) {
        return db::TableEntry{*args.schema, args.table};
    }
    return MSSQL::FindTable(settings, args.table, args.login.loginTimeout, args.login.queryTimeout);
}

// The delimited text as it comes.
class TextSink final : public CSVXML::JoinedTextSink {
public:
    explicit TextSink(CSVXML::OutputStream& out) : out_(out) {}
    void write(std::string_view bytes) override { out_.write(bytes); }

private:
    CSVXML::OutputStream& out_;
};

// Told like the characters XML 1.0 cannot hold: a warning, or with `strict` a failure. Returns
// false when the output must not be kept.
bool reportLoneSurrogates(const CSVXML::ExtractResult& result, bool strict, bool toFile) {
    if (result.loneSurrogates == 0) {
        return true;
    }
    if (strict) {
        printError(CSVXML::loneSurrogatesMessage(result) +
                   (toFile ? QStringLiteral("; no file was written (--strict-xml)")
                           : QStringLiteral("; what standard output got is not the table's text "
                                            "(--strict-xml)")));
        return false;
    }
    printError(QStringLiteral("warning: ") + CSVXML::loneSurrogatesMessage(result));
    return true;
}

int runTableCommand(const QStringList& arguments, Mode mode) {
    TableArgs args;
    if (const std::optional<int> status = parse(arguments, mode, args)) {
        return *status;
    }
    if (mode == Mode::Export && !reportTagNames(args.options)) {
        return 1;
    }
    const std::optional<db::ConnectionSettings> settings = resolveLoginOrReport(args.login);
    if (!settings) {
        return 2;
    }
    if (!outputMayBeWritten(args.output, args.force)) {
        return 1;
    }

    try {
        const std::optional<db::TableEntry> table = findTable(*settings, args);
        if (!table) {
            printError(QStringLiteral("the database has no user table named '%1'").arg(args.table));
            return 1;
        }
        CSVXML::OutputStream out(args.output, mode == Mode::Extract
                                                  ? CSVXML::OutputStream::LineBreaks::AsGiven
                                                  : CSVXML::OutputStream::LineBreaks::CrLf);
        if (!out.open()) {
            printError(out.error());
            return 1;
        }
        const bool toFile = !args.output.isEmpty();
        TerminalProgress progress(args.quiet, !toFile && ::isatty(STDOUT_FILENO) == 1);
        if (mode == Mode::Extract) {
            TextSink sink(out);
            reportLoneSurrogates(CSVXML::ExtractTableText(*settings, *table, sink, progress,
                                                          args.login.loginTimeout,
                                                          args.login.queryTimeout),
                                 false, toFile);
        } else {
            const CSVXML::TableExportResult exported =
                CSVXML::ExportTable(*settings, *table, args.options, out, progress,
                                    args.login.loginTimeout, args.login.queryTimeout);
            // Both are told, each on its line, before a failure keeps the file from being kept.
            const bool surrogatesKept =
                reportLoneSurrogates(exported.extracted, args.options.strictXml, toFile);
            if (!reportRefusedCharacters(exported.refused, args.options.strictXml, toFile) ||
                !surrogatesKept) {
                return 1; // not committed: the new file is dropped and an old one stays
            }
        }
        // Until here a failure leaves no file behind: the new one is only renamed into place now.
        if (!out.commit()) {
            printError(out.error());
            return 1;
        }
        progress.finish(out.written());
    } catch (const std::exception& e) {
        std::fflush(stdout);
        printError(describeFailure(e));
        return 1;
    }
    return 0;
}

} // namespace

int runExtract(const QStringList& args) {
    return runTableCommand(args, Mode::Extract);
}

int runExport(const QStringList& args) {
    return runTableCommand(args, Mode::Export);
}

} // namespace cli
