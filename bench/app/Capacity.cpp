#include "FinishAndEditing.h"
#include "Measuring.h"
#include "Scenarios.h"
#include "Session.h"
#include "app/Form3.h"
#include "app/TextEditor.h"

#include <cstdio>
#include <malloc.h>
#include <string>

namespace benchapp {

int runCapacity(const Options& options, const db::ConnectionSettings& login) {
    Session session(options.work + QStringLiteral("/wizard.conf"), login);
    const double before = residentBytes();
    const WizardTiming timing = timeWizard(session);
    const double after = residentBytes();
    const double peakWizard = highWaterBytes();
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
         QStringLiteral("%1 MB").arg(megabytes(peakWizard), 0, 'f', 0));
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

    // What each box holds: the memory handed back when it is emptied.
    malloc_trim(0);
    const double settled = residentBytes();
    session.optionsPage().RichTextBox1->clear();
    malloc_trim(0);
    const double withoutPreview = residentBytes();
    session.optionsPage().Text1->clear();
    malloc_trim(0);
    const double withoutBoxes = residentBytes();
    line(QStringLiteral("given back when the preview is cleared"),
         QStringLiteral("%1 MB").arg(megabytes(settled - withoutPreview), 0, 'f', 0));
    line(QStringLiteral("given back when the CSV text box is cleared"),
         QStringLiteral("%1 MB").arg(megabytes(withoutPreview - withoutBoxes), 0, 'f', 0));
    line(QStringLiteral("resident memory left"),
         QStringLiteral("%1 MB").arg(megabytes(withoutBoxes), 0, 'f', 0));
    return 0;
}

} // namespace benchapp
