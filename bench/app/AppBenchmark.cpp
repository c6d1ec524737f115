// bench_app: the wizard's export of one large table, measured offscreen against the test server
// running in this process. bench/app/run makes the table and starts this; see README.md here.
//
//   bench_app --data FILE --cli PATH --work DIR --rows N [--reps N] [--capacity | --large]
//
// FILE is a SQLite file holding the table [bench] of N rows; it is served as the database
// "bench" on a free port of 127.0.0.1. Without --capacity, each of --reps rounds times, in turn:
//   (c) `tallowby-cli export` of the table to a file, the whole command;
//   (w) the wizard, from the press of "Next >" on the table page to the options page shown
//       with the preview complete;
// then w / c from the best of each; the preview with CR LF added must be (c)'s file exactly.
// After the last round it presses "Refresh" on the options page and records every turn of the
// event loop; then times "Finish" on the output page against `tallowby-cli convert` of the
// page's delimited text, Ctrl+End in the preview, and a letter typed at its end and its start.
// With --capacity it runs (w) once, then the same Finish and editing figures, and reports the
// time and the memory it took: the process does nothing else first, so its peak is the run's.
// With --large it fills the preview past 2 GiB from a delimited text of its own and checks the
// end after Ctrl+End, a letter typed there and the file "Finish" writes against the command line.
//
// Exit status: 0 done (a missed target is a result, not a failure), 1 something did not work
// (a message box, a wrong preview or file, a failed command), 2 a usage error.

#include "Bench.h"
#include "CancelledProgram.h"
#include "Measuring.h"
#include "Scenarios.h"
#include "db/ConnectionSettings.h"
#include "db/DriverSetup.h"
#include "db/TrustedCertificates.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <tdsserver/certificate.h>
#include <tdsserver/server.h>
#include <unistd.h>

namespace benchapp {
namespace {

std::optional<Options> parse(const QStringList& arguments) {
    Options options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        std::optional<QString> given;
        bool ok = true;
        if (argument == QLatin1String("--capacity")) {
            options.capacity = true;
            continue;
        }
        if (argument == QLatin1String("--large")) {
            options.large = true;
            continue;
        }
        if (argument == QLatin1String("--cancel")) {
            options.cancel = true;
            continue;
        }
        if (!(given = value()))
            return std::nullopt;
        if (argument == QLatin1String("--data"))
            options.data = *given;
        else if (argument == QLatin1String("--cli"))
            options.cli = *given;
        else if (argument == QLatin1String("--work"))
            options.work = *given;
        else if (argument == QLatin1String("--rows"))
            options.rows = given->toLongLong(&ok);
        else if (argument == QLatin1String("--reps"))
            options.reps = given->toInt(&ok);
        else
            return std::nullopt;
        if (!ok)
            return std::nullopt;
    }
    if (options.data.isEmpty() || options.work.isEmpty() || options.rows < 1 || options.reps < 1 ||
        ((!options.capacity || options.large) && !options.cancel && options.cli.isEmpty()))
        return std::nullopt;
    return options;
}

} // namespace
} // namespace benchapp

using namespace benchapp;

int main(int argc, char* argv[]) {
    // Offscreen unless told otherwise, the driver through the build's own registration.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("ODBCSYSINI", TALLOWBY_ODBCSYSINI, 0);
    setenv("TDSVER", "7.4", 0);
    // The certificates the benchmark trusts, and the driver's configuration, stay in its work
    // folder; the driver's environment is set before the application starts any thread.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--work") == 0)
            setenv("XDG_CONFIG_HOME", (std::string(argv[i + 1]) + "/wizard").c_str(), 1);
    }
    db::prepareDriverEnvironment();
    QApplication application(argc, argv);
    // The program run whole, for the "Cancel" figures (see CancelEnd.cpp).
    if (argc >= 2 && std::strcmp(argv[1], cancelled::kChildFlag) == 0)
        return cancelled::runChild(QCoreApplication::arguments());
    QApplication::setQuitOnLastWindowClosed(false);

    const std::optional<Options> options = parse(QCoreApplication::arguments());
    if (!options) {
        std::fputs("usage: bench_app --data FILE --cli PATH --work DIR --rows N [--reps N] "
                   "[--capacity | --large | --cancel]\n",
                   stderr);
        return 2;
    }
    try {
        const tdsserver::Certificate certificate = tdsserver::makeLocalhostCertificate();
        tdsserver::Config config;
        config.certificatePem = certificate.certificatePem;
        config.privateKeyPem = certificate.privateKeyPem;
        tdsserver::Server server(config);
        server.addDatabase("bench", options->data.toStdString());
        const std::uint16_t port = server.start();
        const db::ConnectionSettings login{QStringLiteral("127.0.0.1,%1").arg(port),
                                           QStringLiteral("demo"), QStringLiteral("demo"),
                                           QStringLiteral("bench")};
        // The user trusted the server's certificate, in the wizard's settings and the command
        // line's.
        const QByteArray der =
            db::derFromPem(QByteArray::fromStdString(certificate.certificatePem));
        for (const QString& folder : {db::TrustedCertificates::defaultFolder(),
                                      db::TrustedCertificates::folderBeside(
                                          options->work + QStringLiteral("/cli/Quorvane.conf"))})
            db::TrustedCertificates(folder).pin(db::parseServerAddress(login.server), der);
        std::printf("Tallowby wizard benchmark: %lld rows x 8 columns, %s, offscreen, server in "
                    "this process on 127.0.0.1:%u\n",
                    options->rows,
                    options->capacity ? "one run of (w)"
                    : options->cancel
                        ? qPrintable(QStringLiteral("\"Cancel\", %1 rounds").arg(options->reps))
                        : qPrintable(QStringLiteral("best of %1").arg(options->reps)),
                    unsigned{port});
        std::printf("(%ld cores, load average %s at the start)\n", sysconf(_SC_NPROCESSORS_ONLN),
                    qPrintable(loadAverage()));
        std::fflush(stdout);
        const int status = options->cancel     ? runCancelEnd(*options, login, der, server)
                           : options->large    ? runLarge(*options, login)
                           : options->capacity ? runCapacity(*options, login, port)
                                               : runComparison(*options, login, server);
        std::printf("(load average %s at the end)\n", qPrintable(loadAverage()));
        server.stop();
        return status;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "bench_app: %s\n", failure.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_app: %s\n", error.what());
    }
    return 1;
}
