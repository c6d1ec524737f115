#include "app/XmlCheck.h"

#include <QElapsedTimer>

namespace app {

namespace {

// QXmlStreamReader's own words, in the form of a tooltip: "Opening and ending tag mismatch."
// becomes "opening and ending tag mismatch".
QString plainWords(QString text) {
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (text.size() > 1 && text.at(0).isUpper() && !text.at(1).isUpper())
        text[0] = text.at(0).toLower();
    return text;
}

} // namespace

XmlCheck::XmlCheck(std::string_view text)
    : raw_(QByteArray::fromRawData(text.data(), qsizetype(text.size()))) {
    device_.setBuffer(&raw_);
    device_.open(QIODevice::ReadOnly);
    reader_.setDevice(&device_);
    // Well-formed XML 1.0 is what the file must be; the root and row tags are used as typed, and
    // a prefix in them ("ns:XML") is no fault of the XML.
    reader_.setNamespaceProcessing(false);
}

bool XmlCheck::step(std::chrono::milliseconds budget) {
    if (done_)
        return true;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        for (int i = 0; i < 512; ++i) {
            const QXmlStreamReader::TokenType token = reader_.readNext();
            if (token == QXmlStreamReader::Invalid) {
                done_ = true;
                problem_ =
                    Problem{reader_.lineNumber(), QStringLiteral("line %1: %2")
                                                      .arg(reader_.lineNumber())
                                                      .arg(plainWords(reader_.errorString()))};
                return true;
            }
            if (token == QXmlStreamReader::EndDocument) {
                done_ = true;
                return true;
            }
        }
        if (clock.elapsed() >= budget.count())
            return false;
    }
}

void XmlCheck::run() {
    while (!step(std::chrono::milliseconds(1000))) {
    }
}

} // namespace app
