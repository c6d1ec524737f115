#pragma once

#include "convert/ConversionOptions.h"
#include "convert/ConvertTextToXml.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

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

// Adds the conversion options to `parser`, and reads them from it once it has parsed.
void addConversionOptions(QCommandLineParser& parser);
void readConversionOptions(const QCommandLineParser& parser, CSVXML::ConversionOptions& options);

// Parses a subcommand's arguments (those after its name) with `parser`, to which -h/--help is
// added. Returns the exit status when the command ends here: 0 after printing `help` for --help,
// 2 after one line on standard error for an unknown option, a missing value or a password.
std::optional<int> parseArguments(QCommandLineParser& parser, const QStringList& args,
                                  const std::string& help);

// Tells the user about the characters that XML 1.0 cannot hold, on standard error: a warning, or
// with `strict` a failure. Returns false when the output must not be kept.
bool reportRefusedCharacters(const CSVXML::RefusedCharacters& refused, bool strict, bool toFile);

// True when `bytes` is well-formed UTF-8; otherwise sets `badOffset` to the first bad byte.
bool isValidUtf8(std::string_view bytes, std::size_t& badOffset);

} // namespace cli
