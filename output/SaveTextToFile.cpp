#include "SaveTextToFile.h"

#include "FileExists.h"
#include "OutputStream.h"
#include "XmlFile.h"

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

// The first character of `text` that the system's encoding cannot represent, described for a
// message ("U+D800 at line 3, column 7"); empty when there is none.
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

SaveResult writeBytes(std::string_view bytes, const QString& path) {
    SaveResult result;
    OutputStream out(path);
    if (!out.open()) {
        result.error = out.error();
        return result;
    }
    writeXmlFile(out, bytes);
    if (!out.commit()) {
        result.error = out.error();
        return result;
    }
    result.status = SaveResult::Status::Written;
    return result;
}

bool declined(const QString& path, OverwriteQuestion& question) {
    return FileExists(path) && !question.confirm(overwriteMessage(path));
}

SaveResult declinedResult() {
    SaveResult result;
    result.status = SaveResult::Status::Declined;
    return result;
}

SaveResult encodeAndWrite(const QString& text, const QString& path) {
    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError()) {
        SaveResult result;
        result.error = QStringLiteral("The text holds a character that cannot be written in "
                                      "the system's encoding: %1. Nothing was written.")
                           .arg(firstUnencodable(text));
        return result;
    }
    return writeBytes(std::string_view(bytes.constData(), std::size_t(bytes.size())), path);
}

// Qt takes the system's encoding to be UTF-8 on every Unix.
bool systemIsUtf8() {
#if defined(Q_OS_UNIX)
    return true;
#else
    return false;
#endif
}

} // namespace

SaveResult SaveTextToFile(const std::function<std::string_view()>& text, const QString& path,
                          OverwriteQuestion& question) {
    if (declined(path, question)) {
        return declinedResult();
    }
    const std::string_view utf8 = text();
    if (systemIsUtf8()) {
        return writeBytes(utf8, path);
    }
    return encodeAndWrite(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())), path);
}

} // namespace CSVXML
