#pragma once

#include "convert/ConversionOptions.h"
#include "convert/ConvertTextToXml.h"

#include <QString>
#include <QStringList>

namespace cli {

// The conversion options shared by `convert` and `export`.
inline constexpr const char* kConversionOptionsHelp =
    "  --separator TEXT   the separator between values (default \",\")\n"
    "  --xml-tag TEXT     the root element's name (default \"XML\")\n"
    "  --row-tag TEXT     the row element's name (default \"row\")\n"
    "  --no-row-tags      write no row elements\n"
    "  --no-header        the first line holds data, not column names\n"
    "  --strict-xml       fail, writing no file, when a value holds a character that XML 1.0\n"
    "                     cannot hold (otherwise it is written as a reference, with a warning)\n";

enum class ArgResult { NotMine, Taken, Error };

// Takes the conversion option at args[i] (and its value), advancing i past what it used.
// "--name=value" is accepted as well as "--name value".
ArgResult takeConversionOption(const QStringList& args, qsizetype& i,
                               CSVXML::ConversionOptions& options, QString& error);

// Tells the user about the characters that XML 1.0 cannot hold, on standard error: a warning, or
// with `strict` a failure. Returns false when the output must not be kept.
bool reportRefusedCharacters(const CSVXML::RefusedCharacters& refused, bool strict);

// Splits "--name=value" into its parts; returns false for anything else.
bool splitInlineValue(const QString& arg, QString& name, QString& value);

// The value of an option that takes one: either inline or the next argument.
bool takeValue(const QStringList& args, qsizetype& i, const QString& name, bool hasInline,
               const QString& inlineValue, QString& value, QString& error);

// True when `bytes` is well-formed UTF-8; otherwise sets `badOffset` to the first bad byte.
bool isValidUtf8(std::string_view bytes, std::size_t& badOffset);

} // namespace cli
