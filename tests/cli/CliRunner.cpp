#include "CliRunner.h"

#include <QProcess>

namespace {

CliResult run(const QString& program, const QStringList& args, const QByteArray& input,
              const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    CliResult result;
    if (!process.waitForStarted(10000)) {
        return result;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

CliResult runCli(const QStringList& args, const QByteArray& input, const QProcessEnvironment& env) {
    return run(QStringLiteral(TALLOWBY_CLI_PATH), args, input, env);
}

CliResult runCliOnTerminal(const QStringList& args, const QProcessEnvironment& env) {
    QString command = QStringLiteral("exec '" TALLOWBY_CLI_PATH "'");
    for (QString arg : args) {
        arg.replace(u'\'', QStringLiteral("'\\''"));
        command += QStringLiteral(" '") + arg + u'\'';
    }
    // -e: script's exit status is the command's.
    return run(QStringLiteral("script"),
               {QStringLiteral("-q"), QStringLiteral("-e"), QStringLiteral("-c"), command,
                QStringLiteral("/dev/null")},
               {}, env);
}
