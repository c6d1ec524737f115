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
    QString input;
    QString output;
    QString error;
    bool inputGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        switch (takeConversionOption(args, i, options, error)) {
        case ArgResult::Taken:
            continue;
        case ArgResult::Error:
            printError(error);
            return 2;
        case ArgResult::NotMine:
            break;
        }
        QString name = arg;
        QString inlineValue;
        const bool hasInline = splitInlineValue(arg, name, inlineValue);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            std::fputs(kConversionOptionsHelp, stdout);
            std::fputs("  -o FILE            write to FILE instead of standard output\n", stdout);
            return 0;
        }
        if (name == QLatin1String("-o") || name == QLatin1String("--output")) {
            if (!takeValue(args, i, name, hasInline, inlineValue, output, error)) {
                printError(error);
                return 2;
            }
        } else if (arg.startsWith(QLatin1Char('-')) && arg != QLatin1String("-")) {
            printError(
                QStringLiteral("unknown option %1 (try 'tallowby-cli convert --help')").arg(arg));
            return 2;
        } else if (inputGiven) {
            printError(QStringLiteral("only one INPUT may be given"));
            return 2;
        } else {
            input = arg;
            inputGiven = true;
        }
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
    if (!reportRefusedCharacters(refused, options.strictXml)) {
        return 1; // not committed: the new file is dropped and an old one stays
    }
    if (!out.commit()) {
        printError(out.error());
        return 1;
    }
    return 0;
}

} // namespace cli
