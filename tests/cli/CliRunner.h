#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

// Runs the real tallowby-cli executable, as a user's shell would.
struct CliResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// A file's bytes, or "<unreadable>"; and writing one, true when every byte went out.
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

CliResult runCli(const QStringList& args, const QByteArray& input = {},
                 const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
