#include "ConversionArgs.h"

#include "commands.h"

namespace cli {

bool splitInlineValue(const QString& arg, QString& name, QString& value) {
    const qsizetype eq = arg.indexOf(QLatin1Char('='));
    if (!arg.startsWith(QLatin1String("--")) || eq < 0) {
        return false;
    }
    name = arg.left(eq);
    value = arg.mid(eq + 1);
    return true;
}

bool takeValue(const QStringList& args, qsizetype& i, const QString& name, bool hasInline,
               const QString& inlineValue, QString& value, QString& error) {
    if (hasInline) {
        value = inlineValue;
        return true;
    }
    if (i + 1 >= args.size()) {
        error = QStringLiteral("option %1 needs a value").arg(name);
        return false;
    }
    value = args.at(++i);
    return true;
}

ArgResult takeConversionOption(const QStringList& args, qsizetype& i,
                               CSVXML::ConversionOptions& options, QString& error) {
    QString name = args.at(i);
    QString inlineValue;
    const bool hasInline = splitInlineValue(args.at(i), name, inlineValue);
    std::string* target = nullptr;
    if (name == QLatin1String("--separator")) {
        target = &options.separator;
    } else if (name == QLatin1String("--xml-tag")) {
        target = &options.xmlTag;
    } else if (name == QLatin1String("--row-tag")) {
        target = &options.rowTag;
    } else if (name == QLatin1String("--no-row-tags") || name == QLatin1String("--no-header") ||
               name == QLatin1String("--strict-xml")) {
        if (hasInline) {
            error = QStringLiteral("option %1 takes no value").arg(name);
            return ArgResult::Error;
        }
        if (name == QLatin1String("--strict-xml")) {
            options.strictXml = true;
        } else {
            (name == QLatin1String("--no-row-tags") ? options.useRowTags : options.headerRow) =
                false;
        }
        return ArgResult::Taken;
    } else {
        return ArgResult::NotMine;
    }
    QString value;
    if (!takeValue(args, i, name, hasInline, inlineValue, value, error)) {
        return ArgResult::Error;
    }
    *target = value.toStdString();
    return ArgResult::Taken;
}

bool reportRefusedCharacters(const CSVXML::RefusedCharacters& refused, bool strict) {
    if (refused.count == 0) {
        return true;
    }
    const QString place = QStringLiteral("row %1, column '%2'")
                              .arg(refused.firstRow)
                              .arg(QString::fromStdString(refused.firstColumn));
    if (strict) {
        printError(QStringLiteral("%1 holds a character that XML 1.0 cannot hold (%2 such "
                                  "characters in all); no file was written (--strict-xml)")
                       .arg(place)
                       .arg(refused.count));
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
