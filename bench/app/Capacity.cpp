#include "FinishAndEditing.h"
#include "Measuring.h"
#include "Scenarios.h"
#include "Session.h"
#include "app/Form3.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"

#include <QTest>
#include <QThread>
#include <cstdio>
#include <string>

namespace benchapp {

namespace {

// Back on the table page, the table of ten rows exported in place of the large one: the memory
// the large preview took is given back by the program itself (nothing here trims the heap).
double residentAfterSmallTable(Session& session) {
    app::Form3& options = session.optionsPage();
    QTest::mouseClick(options.Check8, Qt::LeftButton); // "< Back"
    app::Form2& tables = session.tables();
    const QList<QListWidgetItem*> found =
        tables.List1->findItems(QStringLiteral("ten"), Qt::MatchExactly);
    if (found.isEmpty())
        throw Failure("the table page does not list the table ten");
    tables.List1->setCurrentItem(found.constFirst());
    QTest::mouseClick(tables.Check3, Qt::LeftButton); // "Next >"
    session.checkQuiet();
    if (rowsIn(options.RichTextBox1->bytes()) != 10)
        throw Failure("the preview of the table ten does not hold its ten rows");
    // The old documents are let go of on a thread of their own.
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    return residentBytes();
}

} // namespace

int runCapacity(const Options& options, const db::ConnectionSettings& login, std::uint16_t port) {
    Session session(options.work + QStringLiteral("/wizard.conf"), login);
    const double before = residentBytes();
    const WizardTiming timing = timeWizard(session);
    const double after = residentBytes();
    const double peakWizard = highWaterBytes();
    const double addressSpace = addressSpacePeakBytes();
    // The command line after the wizard, so that the server is as warm for it as for the press.
    const double cli = timeCliExport(options, port, options.work + QStringLiteral("/export.xml"));
    const double ratio = timing.seconds / cli;
    const double ratioLimit = options.rows > 1'000'000 ? 1.5 : 1.3;
    constexpr double kFirstPressPeak = 550.0 * 1024 * 1024;
    constexpr double kAddressSpaceLimit = 3.0 * 1024 * 1024 * 1024;
    const app::TextEditor& preview = *session.optionsPage().RichTextBox1;
    const app::TextEditor& delimited = *session.optionsPage().Text1;
    if (rowsIn(preview.bytes()) != static_cast<std::size_t>(options.rows))
        throw Failure("the preview holds " + std::to_string(rowsIn(preview.bytes())) +
                      " rows, not " + std::to_string(options.rows));
    constexpr double kSecondsLimit = 15;
    // 1.1 GB in the megabytes printed here (2^20 bytes), the unit of the figures it is
    // compared with: 1,100 MB.
    constexpr double kPeakLimit = 1100.0 * 1024 * 1024;

    std::printf("\n");
    line(QStringLiteral("(w) wizard: \"Next >\" to options page shown"), seconds(timing.seconds),
         QStringLiteral("target <= 15 s  %1; the press alone %2")
             .arg(verdict(timing.seconds <= kSecondsLimit), seconds(timing.press)));
    line(QStringLiteral("(c) tallowby-cli export, whole command"), seconds(cli));
    line(QStringLiteral("first press / command line (w / c)"), QString::number(ratio, 'f', 2),
         QStringLiteral("target <= %1  %2")
             .arg(ratioLimit, 0, 'f', 1)
             .arg(verdict(ratio <= ratioLimit)));
    line(QStringLiteral("preview"),
         QStringLiteral("%1 MB").arg(megabytes(double(preview.size())), 0, 'f', 1),
         QStringLiteral("%1 lines, %2")
             .arg(preview.lines())
             .arg(preview.lexer() != nullptr ? QStringLiteral("highlighted")
                                             : QStringLiteral("plain")));
    line(QStringLiteral("delimited text box (CSV File frame)"),
         QStringLiteral("%1 MB").arg(megabytes(double(delimited.size())), 0, 'f', 1),
         QStringLiteral("%1 lines").arg(delimited.lines()));
    line(QStringLiteral("resident memory before the press"),
         QStringLiteral("%1 MB").arg(megabytes(before), 0, 'f', 0));
    line(QStringLiteral("resident memory with the options page shown"),
         QStringLiteral("%1 MB").arg(megabytes(after), 0, 'f', 0),
         QStringLiteral("+%1 MB over the press").arg(megabytes(after - before), 0, 'f', 0));
    line(QStringLiteral("peak resident memory after (w) (VmHWM)"),
         QStringLiteral("%1 MB").arg(megabytes(peakWizard), 0, 'f', 0),
         options.rows == 1'000'000
             ? QStringLiteral("target <= 550 MB  %1").arg(verdict(peakWizard <= kFirstPressPeak))
             : QString());
    line(QStringLiteral("address space at its largest (VmPeak)"),
         QStringLiteral("%1 MB").arg(megabytes(addressSpace), 0, 'f', 0),
         options.rows == 1'000'000 ? QStringLiteral("target <= 3072 MB  %1")
                                         .arg(verdict(addressSpace <= kAddressSpaceLimit))
                                   : QString());
    line(QStringLiteral("processor time meanwhile (with the server's)"), seconds(timing.cpu));
    line(QStringLiteral("progress bar reached"), QString(), marksText(timing));

    const Finishing finishing = timeFinish(options, session, 1);
    const double peakFinish = highWaterBytes();
    const Editing editing = timeEditing(*session.optionsPage().RichTextBox1);
    printFinishAndEditing(finishing, editing);
    line(QStringLiteral("peak resident memory after Finish (VmHWM)"),
         QStringLiteral("%1 MB").arg(megabytes(peakFinish), 0, 'f', 0),
         QStringLiteral("after Ctrl+End and typing: the line below"));
    const double peak = highWaterBytes();
    line(QStringLiteral("whole-process peak resident memory (VmHWM)"),
         QStringLiteral("%1 MB").arg(megabytes(peak), 0, 'f', 0),
         QStringLiteral("target <= %1 MB  %2")
             .arg(megabytes(kPeakLimit), 0, 'f', 0)
             .arg(verdict(peak <= kPeakLimit)));

    const double replaced = residentAfterSmallTable(session);
    line(QStringLiteral("resident memory once a 10-row table replaced it"),
         QStringLiteral("%1 MB").arg(megabytes(replaced), 0, 'f', 0),
         QStringLiteral("%1 MB over before the first press; target <= 100 MB  %2")
             .arg(megabytes(replaced - before), 0, 'f', 0)
             .arg(verdict(replaced - before <= 100.0 * 1024 * 1024)));
    return 0;
}

} // namespace benchapp
