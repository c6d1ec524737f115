// The delimited-text-to-XML conversion on any bytes: it must never crash or leak, and whenever
// the text is UTF-8 without characters that XML 1.0 cannot hold, its output must parse and give
// back the values that the plain splitting rules give.
#include "convert/ConvertTextToXml.h"
#include "convert/DelimitedText.h"
#include "convert/XmlName.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool holdsOnlyXmlCharacters(const std::string& text) {
    const QByteArray bytes = QByteArray::fromRawData(text.data(), qsizetype(text.size()));
    const QString decoded = QString::fromUtf8(bytes);
    if (decoded.toUtf8() != bytes) {
        return false; // not UTF-8 (or holds U+FFFD, which is fine to skip as well)
    }
    for (const QChar c : decoded) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF) {
            return false;
        }
    }
    return true;
}

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the options, the rest is the text.
    static const char* const kSeparators[] = {",", ";", "\t", "||", "\"", "a"};
    CSVXML::ConversionOptions options;
    options.separator = kSeparators[(data[0] & 0x7) % 6];
    options.useRowTags = (data[0] & 0x10) == 0;
    options.headerRow = (data[0] & 0x20) == 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    CSVXML::StringSink sink;
    const CSVXML::RefusedCharacters refused = CSVXML::ConvertTextToXml(text, options, sink);
    if (!holdsOnlyXmlCharacters(text)) {
        return 0;
    }
    if (refused.count != 0) {
        fail("refused characters counted in clean text", text);
    }

    // The plain rules: lines, fields, values; missing values are empty, surplus ones dropped.
    std::vector<std::string_view> lines;
    CSVXML::LineCursor cursor(text);
    for (std::string_view line; cursor.next(line);) {
        lines.push_back(line);
    }
    // Plain names only: names are encoded as FOR XML encodes them, after the XML 1.0 fifth
    // edition's name rules, and readers that follow the older tables (Qt's, expat's) refuse
    // some letters those rules allow (U+2D35, for one).
    if (options.headerRow && !lines.empty()) {
        for (const char c : lines[0]) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                return 0;
            }
        }
    }
    std::size_t columns = 0;
    std::vector<std::string_view> fields;
    if (!lines.empty()) {
        CSVXML::splitFields(lines[0], options.separator, fields);
        columns = fields.size();
    }
    // XML sets no bound on a name's length, but Qt's reader refuses a name of more than 4096
    // characters; a long header of characters that must be escaped (seven each) reaches it.
    if (options.headerRow) {
        for (const std::string_view field : fields) {
            if (CSVXML::encodeXmlName(CSVXML::fieldValue(field)).size() > 4096) {
                return 0;
            }
        }
    }
    std::vector<std::string> expected;
    for (std::size_t l = options.headerRow ? 1 : 0; l < lines.size(); ++l) {
        CSVXML::splitFields(lines[l], options.separator, fields);
        for (std::size_t c = 0; c < columns; ++c) {
            expected.push_back(c < fields.size() ? CSVXML::fieldValue(fields[c]) : std::string());
        }
    }

    QXmlStreamReader reader(QByteArray::fromStdString(sink.text));
    std::vector<std::string> values;
    const int valueDepth = options.useRowTags ? 3 : 2;
    int depth = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            if (++depth == valueDepth) {
                values.push_back(reader.readElementText().toStdString());
                --depth;
            }
        } else if (reader.isEndElement()) {
            --depth;
        }
    }
    if (reader.hasError()) {
        fail("output does not parse", reader.errorString().toStdString() + "\n" + sink.text);
    }
    if (values != expected) {
        fail("values differ from the plain rules", sink.text);
    }
    return 0;
}
