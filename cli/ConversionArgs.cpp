#include "ConversionArgs.h"

#include "commands.h"

#include <cstdio>

namespace cli {

namespace {

QCommandLineOption valued(const char* name, const char* valueName) {
    return QCommandLineOption(QString::fromLatin1(name), QString(), QString::fromLatin1(valueName));
}

QCommandLineOption flag(const char* name) {
    return QCommandLineOption(QString::fromLatin1(name));
}

} // namespace

void addConversionOptions(QCommandLineParser& parser) {
    parser.addOptions({valued("separator", "TEXT"), valued("xml-tag", "TEXT"),
                       valued("row-tag", "TEXT"), flag("no-row-tags"), flag("no-header"),
                       flag("strict-xml")});
}

void readConversionOptions(const QCommandLineParser& parser, CSVXML::ConversionOptions& options) {
    const auto take = [&](const char* name, std::string& target) {
        if (parser.isSet(QString::fromLatin1(name))) {
            target = parser.value(QString::fromLatin1(name)).toStdString();
        }
    };
    take("separator", options.separator);
    take("xml-tag", options.xmlTag);
    take("row-tag", options.rowTag);
    options.useRowTags = !parser.isSet(QStringLiteral("no-row-tags"));
    options.headerRow = !parser.isSet(QStringLiteral("no-header"));
    options.strictXml = parser.isSet(QStringLiteral("strict-xml"));
}

std::optional<int> parseArguments(QCommandLineParser& parser, const QStringList& args,
                                  const std::string& help) {
    // Refused before parsing, so that even "--password" without a value gets the reason.
    for (const QString& arg : args) {
        if (arg == QLatin1String("--")) {
            break;
        }
        for (const char* name : {"--password", "--pwd"}) {
            if (arg == QLatin1String(name) || arg.startsWith(QLatin1String(name) + u'=')) {
                printError(QStringLiteral("the password is not taken from the command line, "
                                          "where others can read it; set TALLOWBY_PASSWORD or "
                                          "answer the prompt"));
                return 2;
            }
        }
    }
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(helpOption);
    if (!parser.parse(QStringList{QStringLiteral("tallowby-cli")} + args)) {
        printError(parser.errorText() + QStringLiteral(" (try --help)"));
        return 2;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(help.c_str(), stdout);
        return 0;
    }
    return std::nullopt;
}

bool reportRefusedCharacters(const CSVXML::RefusedCharacters& refused, bool strict, bool toFile) {
    if (refused.count == 0) {
        return true;
    }
    const QString place = QStringLiteral("row %1, column '%2'")
                              .arg(refused.firstRow)
                              .arg(QString::fromStdString(refused.firstColumn));
    if (strict) {
        // Standard output cannot be taken back: what went there is not XML 1.0, and the exit
        // status says so.
        printError(QStringLiteral("%1 holds a character that XML 1.0 cannot hold (%2 such "
                                  "characters in all); %3 (--strict-xml)")
                       .arg(place)
                       .arg(refused.count)
                       .arg(toFile ? QStringLiteral("no file was written")
                                   : QStringLiteral("what standard output got is not XML 1.0")));
        return false;
    }
    printError(QStringLiteral("warning: %1 characters that XML 1.0 cannot hold were written as "
                              "character references, which strict XML readers refuse; the first "
                              "is at %2")
                   .arg(refused.count)
                   .arg(place));
    return true;
}

bool isValidUtf8(std::string_view bytes, std::size_t& badOffset) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra = 0;
        unsigned int lo = 0x80;
        unsigned int hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            lo = c == 0xE0 ? 0xA0 : 0x80; // no overlong forms
            hi = c == 0xED ? 0x9F : 0xBF; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            lo = c == 0xF0 ? 0x90 : 0x80;
            hi = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            badOffset = i;
            return false;
        }
        if (i + extra >= n) {
            badOffset = i;
            return false;
        }
        if (p[i + 1] < lo || p[i + 1] > hi) {
            badOffset = i;
            return false;
        }
        for (std::size_t k = 2; k <= extra; ++k) {
            if ((p[i + k] & 0xC0u) != 0x80u) {
                badOffset = i;
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

} // namespace cli
