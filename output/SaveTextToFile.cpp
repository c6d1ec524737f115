#include "SaveTextToFile.h"

#include "FileExists.h"
#include "OutputStream.h"

#include <QStringEncoder>

namespace CSVXML {

QString overwriteMessage(const QString& path) {
    return QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?");
}

namespace {

QString describe(char32_t codePoint, qsizetype line, qsizetype column) {
    return QStringLiteral("U+%1 at line %2, column %3")
        .arg(QString::number(codePoint, 16).toUpper().rightJustified(4, QLatin1Char('0')))
        .arg(line)
        .arg(column);
}

} // namespace

QString firstUnencodable(const QString& text) {
    QStringEncoder encoder(QStringConverter::System);
    qsizetype line = 1;
    qsizetype column = 1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool pair =
            c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (c.isSurrogate() && !pair) {
            return describe(c.unicode(), line, column);
        }
        if (c.unicode() >= 0x80) {
            const QStringView one = QStringView(text).mid(i, pair ? 2 : 1);
            encoder.resetState();
            static_cast<void>(encoder.encode(one));
            if (encoder.hasError()) {
                return describe(one.toUcs4().value(0), line, column);
            }
        }
        if (c == QLatin1Char('\n')) {
            ++line;
            column = 1;
        } else {
            ++column;
        }
        if (pair) {
            ++i;
        }
    }
    return {};
}

SaveResult SaveTextToFile(const QString& text, const QString& path, OverwriteQuestion& question) {
    SaveResult result;
    if (FileExists(path) && !question.confirm(overwriteMessage(path))) {
        result.status = SaveResult::Status::Declined;
        return result;
    }
    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError()) {
        result.error = QStringLiteral("The text holds a character that cannot be written in "
                                      "the system's encoding: %1. Nothing was written.")
                           .arg(firstUnencodable(text));
        return result;
    }
    OutputStream out(path);
    if (!out.open()) {
        result.error = out.error();
        return result;
    }
    out.write(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    out.write("\r\n");
    if (!out.commit()) {
        result.error = out.error();
        return result;
    }
    result.status = SaveResult::Status::Written;
    return result;
}

} // namespace CSVXML
