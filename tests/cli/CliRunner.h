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
