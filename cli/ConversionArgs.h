#pragma once

#include "convert/ConversionOptions.h"
#include "convert/ConvertTextToXml.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>

namespace cli {

// What a command's --help prints besides its options: the usage line, a paragraph about the
// command, and an optional paragraph after the options.
struct Help {
    const char* usage;
    const char* about;
    const char* after = nullptr;
};

// The conversion options that shape the XML (--xml-tag, --row-tag, --no-row-tags, --strict-xml)
// and those that say how delimited text is read (--separator, --no-header). A command that reads
// a table makes that text itself, always joined by "," and headed by the column names, so it
// takes the reading options only to refuse them with a reason (readTextOptions returns false).
enum class TextInput { Read, Refused };
void addConversionOptions(QCommandLineParser& parser);
void addTextOptions(QCommandLineParser& parser, TextInput input);
void readConversionOptions(const QCommandLineParser& parser, CSVXML::ConversionOptions& options);
bool readTextOptions(const QCommandLineParser& parser, TextInput input, const char* command,
                     CSVXML::ConversionOptions& options);

// -o FILE and --force, shared by convert, extract and export.
void addOutputOptions(QCommandLineParser& parser);
// The command line's answer to the overwrite question, asked before any work is done: false,
// after a line on standard error, when `path` is a folder (whatever `force` says), or exists and
// `force` is not given.
bool outputMayBeWritten(const QString& path, bool force);

// Parses a subcommand's arguments (those after its name) with `parser`, to which -h/--help is
// added. Returns the exit status when the command ends here: 0 after printing the help for
// --help, 2 after one line on standard error for an unknown option, a missing value or a
// password.
std::optional<int> parseArguments(QCommandLineParser& parser, const QStringList& args,
                                  const Help& help);

// The root and row tags are written as typed, so one that is no XML name gives a file that no
// XML reader takes. Told before any work, on standard error: one warning line, or with
// --strict-xml a failure. Returns false when nothing may be written.
bool reportTagNames(const CSVXML::ConversionOptions& options);

// Tells the user about the characters that XML 1.0 cannot hold, on standard error: a warning, or
// with `strict` a failure. Returns false when the output must not be kept.
bool reportRefusedCharacters(const CSVXML::RefusedCharacters& refused, bool strict, bool toFile);

} // namespace cli
