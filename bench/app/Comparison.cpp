#include "FinishAndEditing.h"
#include "Measuring.h"
#include "Scenarios.h"
#include "Session.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"
#include "db/TableCatalogue.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace benchapp {
namespace {

Gaps timeRefresh(Session& session) {
    Gaps gaps;
    QElapsedTimer clock;
    const QMetaObject::Connection watch = recordTurns(gaps, clock);
    app::TextEditor* preview = session.optionsPage().RichTextBox1;
    const QMetaObject::Connection changes = QObject::connect(
        preview, &app::TextEditor::contentChanged, preview,
        [&] {
            if (gaps.cleared < 0)
                gaps.cleared = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        },
        Qt::DirectConnection);
    clock.start();
    gaps.turns.push_back(0);
    QTest::mouseClick(session.optionsPage().Check17, Qt::LeftButton);
    gaps.turns.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
    QObject::disconnect(watch);
    QObject::disconnect(changes);
    session.checkQuiet();
    summarise(gaps);
    return gaps;
}

// The turns of the event loop during "Next >" on a fresh wizard, with the server waiting
// `packetDelay` after each packet of the table. A timer asks for a turn every few milliseconds,
// so that a loop that only waits for the database thread turns all the same.
Gaps timeNextOnASlowNetwork(const Options& options, const db::ConnectionSettings& login,
                            tdsserver::Server& server, std::chrono::milliseconds packetDelay) {
    Session session(options.work + QStringLiteral("/wizard-slow.conf"), login);
    Gaps gaps;
    QElapsedTimer clock;
    const QMetaObject::Connection watch = recordTurns(gaps, clock);
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.start(5);
    server.packetDelay(packetDelay);
    clock.start();
    gaps.turns.push_back(0);
    QTest::mouseClick(session.tables().Check3, Qt::LeftButton);
    gaps.turns.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
    server.packetDelay(std::chrono::milliseconds(0));
    ticks.stop();
    QObject::disconnect(watch);
    session.checkQuiet();
    if (!session.optionsPage().isVisible())
        throw Failure("after \"Next >\" on the slow network the options page is not shown");
    summarise(gaps);
    return gaps;
}

// The conversion's output thrown away, only counted.
class CountingSink final : public CSVXML::ConversionSink {
public:
    void append(std::string_view xml) override { bytes += xml.size(); }
    std::size_t bytes = 0;
};

struct Pieces {
    double extraction = 0;
    double conversion = 0;
};

// The core's share of (w), outside the wizard: what is left is the widgets' and the loop's.
Pieces timePieces(const db::ConnectionSettings& login, const app::Form3& page) {
    Pieces pieces;
    Clock::time_point start = Clock::now();
    const std::string text = CSVXML::ExtractTableText(
        login, db::TableEntry{QStringLiteral("dbo"), QStringLiteral("bench")});
    pieces.extraction = secondsSince(start);
    CountingSink counter;
    start = Clock::now();
    CSVXML::ConvertTextToXml(text, page.options(), counter);
    pieces.conversion = secondsSince(start);
    return pieces;
}

} // namespace

int runComparison(const Options& options, const db::ConnectionSettings& login,
                  tdsserver::Server& server) {
    const std::uint16_t port = server.port();
    const QString output = options.work + QStringLiteral("/export.xml");
    std::vector<double> wRuns, pressRuns, cRuns;
    double w = 0, c = 0;
    std::unique_ptr<Session> session;
    Pieces pieces;
    WizardTiming lastTiming;
    for (int rep = 1; rep <= options.reps; ++rep) {
        c = bestOf(cRuns, [&] { return timeCliExport(options, port, output); });
        // One wizard per round, so that every round starts from an empty preview.
        session.reset();
        session = std::make_unique<Session>(
            options.work + QStringLiteral("/wizard-%1.conf").arg(rep), login);
        w = bestOf(wRuns, [&] {
            lastTiming = timeWizard(*session);
            return lastTiming.seconds;
        });
        pressRuns.push_back(lastTiming.press);
        const std::size_t rows = rowsIn(session->optionsPage().previewText());
        if (rows != static_cast<std::size_t>(options.rows))
            throw Failure("the preview holds " + std::to_string(rows) + " rows, not " +
                          std::to_string(options.rows));
        checkPreview(*session, output, "after \"Next >\"");
        const Pieces round = timePieces(login, session->optionsPage());
        if (rep == 1) {
            pieces = round;
        } else {
            pieces.extraction = std::min(pieces.extraction, round.extraction);
            pieces.conversion = std::min(pieces.conversion, round.conversion);
        }
        std::fprintf(stderr, "round %d of %d: w %.3f s, c %.3f s\n", rep, options.reps,
                     wRuns.back(), cRuns.back());
    }
    const Gaps gaps = timeRefresh(*session);
    checkPreview(*session, output, "after \"Refresh\"");
    const Finishing finishing = timeFinish(options, *session, options.reps);
    const Editing editing = timeEditing(*session->optionsPage().RichTextBox1);
    const double ratio = w / c;
    session.reset();
    // A few seconds at the default 100,000 rows; the delay alone would take minutes at millions.
    constexpr std::chrono::milliseconds kPacketDelay{2};
    constexpr long long kSlowRowsLimit = 200000;
    const bool slowRun = options.rows <= kSlowRowsLimit;
    const Gaps slow =
        slowRun ? timeNextOnASlowNetwork(options, login, server, kPacketDelay) : Gaps{};

    std::printf("\n");
    line(QStringLiteral("figure"), QStringLiteral("best"), QStringLiteral("runs (s)"));
    line(QStringLiteral("(w) wizard: \"Next >\" to options page shown"), seconds(w),
         runsText(wRuns));
    line(QStringLiteral("    of which the press (export + conversion)"),
         seconds(*std::min_element(pressRuns.begin(), pressRuns.end())), runsText(pressRuns));
    line(QStringLiteral("    progress bar reached (last run)"), QString(), marksText(lastTiming));
    line(QStringLiteral("(c) tallowby-cli export, whole command"), seconds(c), runsText(cRuns));
    line(QStringLiteral("w / c"), QString::number(ratio, 'f', 2),
         QStringLiteral("target <= 2.50  %1").arg(verdict(ratio <= 2.5)));
    line(QStringLiteral("preview + CR LF == (c)'s file, byte for byte"), QStringLiteral("yes"),
         QStringLiteral("after \"Next >\" and after \"Refresh\""));
    line(QStringLiteral("Refresh: longest gap between loop turns"), milliseconds(gaps.longest),
         QStringLiteral("target <= 50 ms  %1").arg(verdict(gaps.longest <= 0.050)));
    line(QStringLiteral("    turns, whole Refresh"),
         QStringLiteral("%1").arg(gaps.turns.size() - 2),
         QStringLiteral("%1; the longest gap begins at %2 s")
             .arg(seconds(gaps.total))
             .arg(gaps.longestAt, 0, 'f', 3));
    QStringList few;
    for (const auto& [gap, at] : gaps.longestFew)
        few << QStringLiteral("%1 ms at %2 s").arg(gap * 1000, 0, 'f', 1).arg(at, 0, 'f', 3);
    line(QStringLiteral("    the longest gaps"), QString(), few.join(QStringLiteral(", ")));
    line(QStringLiteral("    preview cleared (first change) after"), milliseconds(gaps.cleared));
    if (slowRun)
        line(QStringLiteral("\"Next >\", %1 ms per packet: longest gap").arg(kPacketDelay.count()),
             milliseconds(slow.longest),
             QStringLiteral("target <= 50 ms  %1; %2 turns in %3, the longest gap begins at %4 s")
                 .arg(verdict(slow.longest <= 0.050))
                 .arg(slow.turns.size() - 2)
                 .arg(seconds(slow.total))
                 .arg(slow.longestAt, 0, 'f', 3));
    else
        line(QStringLiteral("\"Next >\" with a delay per packet"), QStringLiteral("not run"),
             QStringLiteral("above %1 rows").arg(kSlowRowsLimit));
    printFinishAndEditing(finishing, editing);
    line(QStringLiteral("file written by \"Finish\" == preview + CR LF"), QStringLiteral("yes"));

    std::printf("\nThe core's share of (w), outside the wizard, best of %d:\n", options.reps);
    line(QStringLiteral("  extraction (ExtractTableText, no yields)"), seconds(pieces.extraction));
    line(QStringLiteral("  conversion (ConvertTextToXml, output counted)"),
         seconds(pieces.conversion));
    line(QStringLiteral("  rest of (w): widgets, event processing, paint"),
         seconds(w - pieces.extraction - pieces.conversion));
    std::printf("\nPeak resident memory of this run: %.0f MB\n", megabytes(highWaterBytes()));
    return 0;
}

} // namespace benchapp
