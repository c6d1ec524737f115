#include "ConversionArgs.h"
#include "commands.h"
#include "convert/ConvertTextToXml.h"
#include "output/OutputStream.h"
#include "output/XmlFile.h"

#include <QFile>
#include <QUtf8StringView>
#include <cstdio>
#include <string>

namespace cli {

namespace {

constexpr Help kHelp{
    "Usage: tallowby-cli convert [OPTIONS] [INPUT]",
    "Converts delimited text (UTF-8, lines separated by CR LF, fields optionally quoted with\n"
    "'\"') from INPUT, or standard input, to XML, and writes it followed by CR LF.",
};

bool readAll(const QString& path, std::string& text, QString& error) {
    if (path.isEmpty() || path == QLatin1String("-")) {
        char chunk[1 << 16];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) {
            text.append(chunk, got);
        }
        if (std::ferror(stdin)) {
            error = QStringLiteral("cannot read standard input");
            return false;
        }
        return true;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    text.assign(bytes.constData(), std::size_t(bytes.size()));
    return true;
}

} // namespace

int runConvert(const QStringList& args) {
    CSVXML::ConversionOptions options;
    QString error;
    QCommandLineParser parser;
    addTextOptions(parser, TextInput::Read);
    addConversionOptions(parser);
    addOutputOptions(parser);
    parser.addPositionalArgument(QStringLiteral("INPUT"),
                                 QStringLiteral("the delimited text; standard input when it is "
                                                "missing or \"-\""),
                                 QStringLiteral("[INPUT]"));
    if (const std::optional<int> status = parseArguments(parser, args, kHelp)) {
        return *status;
    }
    readTextOptions(parser, TextInput::Read, "convert", options);
    readConversionOptions(parser, options);
    const QString output = parser.value(QStringLiteral("output"));
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        printError(QStringLiteral("only one INPUT may be given"));
        return 2;
    }
    if (!reportTagNames(options)) {
        return 1;
    }
    const bool inputGiven = !positional.isEmpty();
    const QString input = inputGiven ? positional.constFirst() : QString();
    if (!outputMayBeWritten(output, parser.isSet(QStringLiteral("force")))) {
        return 1;
    }

    std::string text;
    if (!readAll(input, text, error)) {
        printError(error);
        return 2;
    }
    // Spreadsheet programs start their UTF-8 files with a byte-order mark, which would become part
    // of the first column's name. It is dropped here, where files are read, and not in the
    // conversion: text from the database may rightly start with U+FEFF.
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.erase(0, 3);
    }
    if (!QUtf8StringView(text).isValidUtf8()) {
        printError(QStringLiteral("%1 is not UTF-8 text")
                       .arg(inputGiven ? input : QStringLiteral("standard input")));
        return 2;
    }

    CSVXML::OutputStream out(output);
    if (!out.open()) {
        printError(out.error());
        return 1;
    }
    CSVXML::XmlFileSink sink(out);
    const CSVXML::RefusedCharacters refused = CSVXML::ConvertTextToXml(text, options, sink);
    if (!reportRefusedCharacters(refused, options.strictXml, !output.isEmpty())) {
        return 1; // not committed: the new file is dropped and an old one stays
    }
    if (!out.commit()) {
        printError(out.error());
        return 1;
    }
    return 0;
}

} // namespace cli
