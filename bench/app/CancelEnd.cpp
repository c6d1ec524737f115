// "Cancel" with a frozen server: the whole program in a child process (bench_app itself, started
// with cancelled::kChildFlag), which presses "Cancel" 300 ms after "Next >", once while its
// login waits and once while the rows of the table stream. The server inside this process stops
// answering: for the login it never answers a new connection (not even PRELOGIN), for the rows
// it goes silent after the first 1000, cancels unanswered. The figure is the time from the press
// to the end of the child process.

#include "CancelledProgram.h"
#include "Measuring.h"
#include "Scenarios.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace benchapp {

namespace {

constexpr std::chrono::milliseconds kTarget{200};
// Beyond this the child is killed: the driver's own time-outs are 15 s and 30 s.
constexpr std::chrono::milliseconds kLimit{40'000};

// The best and the worst of the rounds, in ms.
struct Times {
    std::vector<double> ms;
    double best() const { return *std::min_element(ms.begin(), ms.end()); }
    double worst() const { return *std::max_element(ms.begin(), ms.end()); }
};

double cancelOnce(const QString& folder, cancelled::Wait wait, const QString& value) {
    const cancelled::Outcome outcome =
        cancelled::run(QCoreApplication::applicationFilePath(), wait, value, folder, kLimit);
    if (!outcome.pressToEnd || !outcome.pressedWhileWaiting)
        throw Failure("\"Cancel\" was not pressed while the wizard waited:\n" +
                      outcome.output.toStdString());
    if (!outcome.ended || outcome.exitCode != 0)
        throw Failure("the program did not end by itself within " + std::to_string(kLimit.count()) +
                      " ms of \"Cancel\" (exit code " + std::to_string(outcome.exitCode) + "):\n" +
                      outcome.output.toStdString());
    return std::chrono::duration<double, std::milli>(*outcome.pressToEnd).count();
}

void report(const QString& what, const Times& times) {
    const QString list = [&] {
        QStringList each;
        for (const double ms : times.ms)
            each << QString::number(ms, 'f', 1);
        return each.join(QStringLiteral(", "));
    }();
    line(what, milliseconds(times.worst() / 1000),
         QStringLiteral("target <= %1 ms (the worst)  %2; best %3, each %4")
             .arg(kTarget.count())
             .arg(verdict(times.worst() <= double(kTarget.count())),
                  milliseconds(times.best() / 1000), list));
}

} // namespace

int runCancelEnd(const Options& options, const db::ConnectionSettings& login, const QByteArray& der,
                 tdsserver::Server& server) {
    Times loginTimes;
    Times rowTimes;
    for (int round = 0; round < options.reps; ++round) {
        // Each child in a settings folder of its own, the certificate trusted there.
        const QString loginFolder = options.work + QStringLiteral("/cancel-login-%1").arg(round);
        const QString rowsFolder = options.work + QStringLiteral("/cancel-rows-%1").arg(round);
        QDir().mkpath(loginFolder);
        QDir().mkpath(rowsFolder);

        // The stored login fails at once; the user types the server's address and presses
        // "Next >", whose login is never answered.
        cancelled::storeSettings(loginFolder, cancelled::failingAtOnce(login), login.server, der);
        server.neverAnswer(true);
        loginTimes.ms.push_back(cancelOnce(loginFolder, cancelled::Wait::Login, login.server));
        server.neverAnswer(false);

        // The stored login works; "Next >" on the table page with [bench] chosen.
        cancelled::storeSettings(rowsFolder, login, login.server, der);
        server.stallAfterRows(1000);
        rowTimes.ms.push_back(
            cancelOnce(rowsFolder, cancelled::Wait::Rows, QStringLiteral("bench")));
        server.stallAfterRows(-1);
    }
    std::printf("\n");
    report(QStringLiteral("\"Cancel\" during a login never answered, to process gone"), loginTimes);
    report(QStringLiteral("\"Cancel\" while rows stream, server stopped, to process gone"),
           rowTimes);
    return 0;
}

} // namespace benchapp
