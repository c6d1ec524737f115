#pragma once

#include "TestFiles.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

// Runs the real tallowby-cli executable, as a user's shell would.
struct CliResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CliResult runCli(const QStringList& args, const QByteArray& input = {},
                 const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// The same with standard input, output and error on a terminal of its own (util-linux's script
// opens it), as a user at a terminal runs it; `out` is what the terminal showed, with its line
// breaks as CR LF, and `err` stays empty.
CliResult
runCliOnTerminal(const QStringList& args,
                 const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
