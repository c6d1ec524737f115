#pragma once

#include <QStringList>
#include <string_view>

namespace cli {

// One subcommand of tallowby-cli. `run` gets the arguments after the subcommand's name and
// returns the process's exit status: 0 success, 1 a failure of the work itself (the database,
// the file), 2 a usage error or unreadable input.
struct Command {
    std::string_view name;
    std::string_view summary;
    int (*run)(const QStringList& args);
};

int runConvert(const QStringList& args);
int runExport(const QStringList& args);
int runExtract(const QStringList& args);
int runProbe(const QStringList& args);
int runTables(const QStringList& args);
int runTrust(const QStringList& args);

// Writes one line to standard error, prefixed with the program's name.
void printError(const QString& message);

} // namespace cli
