#include "ConversionArgs.h"

#include "commands.h"
#include "convert/XmlName.h"
#include "output/FileExists.h"
#include "output/TableExport.h"

#include <QFileInfo>
#include <cstdio>

namespace cli {

namespace {

QCommandLineOption valued(const char* name, const char* about, const char* valueName) {
    return QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(about),
                              QString::fromLatin1(valueName));
}

QCommandLineOption flag(const char* name, const char* about) {
    return QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(about));
}

// Each reading option, and why a command that reads a table cannot take it.
struct TextOption {
    const char* name;
    const char* about;
    const char* valueName;
    const char* refusal;
};

constexpr TextOption kTextOptions[] = {
    {"separator", "the separator between values (default \",\")", "TEXT",
     "its values are always joined by \",\""},
    {"no-header", "the first line holds data, not column names", nullptr,
     "its first line always holds the column names"},
};

} // namespace

void addConversionOptions(QCommandLineParser& parser) {
    parser.addOptions(
        {valued("xml-tag", "the root element's name (default \"XML\")", "TEXT"),
         valued("row-tag", "the row element's name (default \"row\")", "TEXT"),
         flag("no-row-tags", "write no row elements"),
         flag("strict-xml", "fail, writing no file, when a value holds a character that XML 1.0 "
                            "cannot hold (otherwise it is written as a reference, with a "
                            "warning)")});
}

void addTextOptions(QCommandLineParser& parser, TextInput input) {
    for (const TextOption& o : kTextOptions) {
        QCommandLineOption option =
            o.valueName != nullptr ? valued(o.name, o.about, o.valueName) : flag(o.name, o.about);
        if (input == TextInput::Refused) {
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        }
        parser.addOption(option);
    }
}

void readConversionOptions(const QCommandLineParser& parser, CSVXML::ConversionOptions& options) {
    const auto take = [&](const char* name, std::string& target) {
        if (parser.isSet(QString::fromLatin1(name))) {
            target = parser.value(QString::fromLatin1(name)).toStdString();
        }
    };
    take("xml-tag", options.xmlTag);
    take("row-tag", options.rowTag);
    options.useRowTags = !parser.isSet(QStringLiteral("no-row-tags"));
    options.strictXml = parser.isSet(QStringLiteral("strict-xml"));
}

bool readTextOptions(const QCommandLineParser& parser, TextInput input, const char* command,
                     CSVXML::ConversionOptions& options) {
    if (input == TextInput::Refused) {
        for (const TextOption& o : kTextOptions) {
            if (parser.isSet(QString::fromLatin1(o.name))) {
                printError(QStringLiteral("--%1 is for convert: %2 reads the table itself, and %3")
                               .arg(QString::fromLatin1(o.name), QString::fromLatin1(command),
                                    QString::fromUtf8(o.refusal)));
                return false;
            }
        }
        return true;
    }
    if (parser.isSet(QStringLiteral("separator"))) {
        options.separator = parser.value(QStringLiteral("separator")).toStdString();
    }
    options.headerRow = !parser.isSet(QStringLiteral("no-header"));
    return true;
}

void addOutputOptions(QCommandLineParser& parser) {
    parser.addOptions(
        {QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")},
                            QStringLiteral("write to FILE instead of standard output; FILE is "
                                           "replaced only once everything has been written, so a "
                                           "failure leaves an old FILE untouched"),
                            QStringLiteral("FILE")),
         flag("force", "replace FILE when it exists (without it an existing FILE is kept and the "
                       "command fails)")});
}

bool outputMayBeWritten(const QString& path, bool force) {
    // A folder is no file to replace, so --force cannot help and is not offered.
    if (!path.isEmpty() && QFileInfo(path).isDir()) {
        printError(QStringLiteral("%1 is a folder; -o takes the path of a file").arg(path));
        return false;
    }
    if (!path.isEmpty() && !force && FileExists(path)) {
        printError(QStringLiteral("%1 exists and was kept (--force replaces it)").arg(path));
        return false;
    }
    return true;
}

std::optional<int> parseArguments(QCommandLineParser& parser, const QStringList& args,
                                  const Help& help) {
    // Refused before parsing, so that even "--password" without a value gets the reason.
    for (const QString& arg : args) {
        if (arg == QLatin1String("--")) {
            break;
        }
        for (const char* name : {"--password", "--pwd"}) {
            if (arg == QLatin1String(name) || arg.startsWith(QLatin1String(name) + u'=')) {
                printError(QStringLiteral("the password is not taken from the command line, "
                                          "where others can read it; set TALLOWBY_PASSWORD, use "
                                          "--password-stdin or answer the prompt"));
                return 2;
            }
        }
    }
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("print this help"));
    parser.addOption(helpOption);
    if (!parser.parse(QStringList{QStringLiteral("tallowby-cli")} + args)) {
        printError(parser.errorText() + QStringLiteral(" (try --help)"));
        return 2;
    }
    if (parser.isSet(helpOption)) {
        parser.setApplicationDescription(u'\n' + QString::fromUtf8(help.about));
        // The parser's own usage line names the program but not the command.
        QString text = parser.helpText();
        text.replace(0, text.indexOf(u'\n'), QString::fromUtf8(help.usage));
        if (help.after != nullptr) {
            text += u'\n' + QString::fromUtf8(help.after);
        }
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    return std::nullopt;
}

bool reportTagNames(const CSVXML::ConversionOptions& options) {
    QStringList bad;
    const auto check = [&](const char* what, const std::string& tag) {
        if (!CSVXML::isXmlName(tag)) {
            bad << QStringLiteral("the %1 '%2'")
                       .arg(QString::fromLatin1(what), QString::fromStdString(tag));
        }
    };
    check("root tag (--xml-tag)", options.xmlTag);
    if (options.useRowTags) {
        check("row tag (--row-tag)", options.rowTag);
    }
    if (bad.isEmpty()) {
        return true;
    }
    const QString what = bad.join(QStringLiteral(" and ")) +
                         (bad.size() == 1 ? QStringLiteral(" is not an XML name")
                                          : QStringLiteral(" are not XML names"));
    if (options.strictXml) {
        printError(what + QStringLiteral("; nothing was written (--strict-xml)"));
        return false;
    }
    printError(QStringLiteral("warning: ") + what +
               QStringLiteral(": it is written as typed, and XML readers refuse the file"));
    return true;
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
    printError(QStringLiteral("warning: ") + CSVXML::refusedCharactersMessage(refused));
    return true;
}

} // namespace cli
