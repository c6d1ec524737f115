#include "ConversionArgs.h"
#include "commands.h"
#include "convert/ConvertTextToXml.h"
#include "output/OutputStream.h"
#include "output/XmlFile.h"

#include <QFile>
#include <cstdio>
#include <string>

namespace cli {

namespace {

constexpr const char* kUsage =
    "Usage: tallowby-cli convert [OPTIONS] [INPUT]\n"
    "\n"
    "Converts delimited text (UTF-8, lines separated by CR LF, fields optionally quoted with\n"
    "'\"') from INPUT, or standard input, to XML, and writes it followed by CR LF.\n"
    "\n"
    "Options:\n";

// Streams the converter's output to the destination and remembers the first failure.

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
    addConversionOptions(parser);
    parser.addOption(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")}, QString(),
                                        QStringLiteral("FILE")));
    parser.addPositionalArgument(QStringLiteral("INPUT"), QString());
    if (const std::optional<int> status =
            parseArguments(parser, args,
                           std::string(kUsage) + kConversionOptionsHelp +
                               "  -o FILE            write to FILE instead of standard output\n")) {
        return *status;
    }
    readConversionOptions(parser, options);
    const QString output = parser.value(QStringLiteral("output"));
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        printError(QStringLiteral("only one INPUT may be given"));
        return 2;
    }
    const bool inputGiven = !positional.isEmpty();
    const QString input = inputGiven ? positional.constFirst() : QString();

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
    std::size_t bad = 0;
    if (!isValidUtf8(text, bad)) {
        printError(QStringLiteral("%1 is not UTF-8 text (bad byte at offset %2)")
                       .arg(inputGiven ? input : QStringLiteral("standard input"))
                       .arg(bad));
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
